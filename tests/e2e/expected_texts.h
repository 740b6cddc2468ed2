#pragma once
// What the updater writes, as the end-to-end tests expect to read it: the
// helper log's lines, the result messages, and the exit status of a run that
// ends with 1603.

namespace velmarch::e2e {

// Helper-log lines of every run that reaches them, in this order.
inline constexpr const char* kStarted = "Velmarch native updater started.";
inline constexpr const char* kStaged = "The update package was copied to restricted staging and verified again.";
inline constexpr const char* kAlreadyExited = "The previous process has already exited.";
inline constexpr const char* kStarting = "Starting Windows Installer.";
inline constexpr const char* kInstallerExited0 = "Windows Installer exited with code 0.";

// Refusals and failures, in the log and in the result.
inline constexpr const char* kDigestRefused = "Update package SHA-256 verification failed.";
inline constexpr const char* kSignatureRefused = "Update signature verification failed.";
inline constexpr const char* kNotAnMsi = "The downloaded update package is not a valid MSI file.";
inline constexpr const char* kStagingFailed = "Secure package staging failed: ";  // followed by the reason
inline constexpr const char* kNoTempDirectory = "The protected Windows temporary directory was not found.";
inline constexpr const char* kInstallerNotFound = "Windows Installer was not found.";
inline constexpr const char* kVersionNotConfirmed =
    "The installed application did not report expected version 2.4.0 after Windows Installer completed.";

// The updater's exit code 1603 as Linux keeps it: its low 8 bits.
inline constexpr int kAbortStatus = 1603 & 0xFF;

}  // namespace velmarch::e2e
