#pragma once
// Windows Installer writes its verbose log inside the administrator-only
// staging directory; after each installer run the updater copies that log to
// the caller's installer log path itself, through the platform's checked
// opens. Nothing else ever opens the caller's path.

#include "platform/platform.h"

namespace velmarch::process {

// The first delivery of a run replaces the caller's file; later ones (the
// installer was started again) add to it, so the file holds every run's log
// in order.
enum class LogDelivery { replace, append };

// Copies the bytes of `staged_log`, as they are (Windows Installer writes
// UTF-16), to `caller_log`: at most the length the staged log had when it was
// opened, so a log that keeps growing cannot keep the run copying. Never
// fails the run: a staged log that cannot be opened delivers nothing, and a
// read or write that fails ends the copy where it is, as a log line that
// cannot be written is dropped.
void deliver_installer_log(platform::Platform& platform, const platform::Path& staged_log,
                           const platform::Path& caller_log, LogDelivery delivery);

}  // namespace velmarch::process
