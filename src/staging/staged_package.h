#pragma once
#include <memory>

#include "platform/platform.h"

namespace velmarch::staging {

// The staging directory, the staged package inside it and the file Windows
// Installer writes its log to there. Destroying the owner lets the package's
// hold go, then deletes the log, the package and the directory tree; a
// deletion that another program holds for a moment is tried again
// (platform/held_retry.h); other failures are ignored, and what is left goes
// with a later run's sweep.
class StagedPackage {
public:
    StagedPackage(platform::Platform& platform, platform::Path staging_dir, platform::Path package_path);
    StagedPackage(StagedPackage&& other) noexcept;
    StagedPackage& operator=(StagedPackage&& other) noexcept;
    StagedPackage(const StagedPackage&) = delete;
    StagedPackage& operator=(const StagedPackage&) = delete;
    ~StagedPackage();

    const platform::Path& staging_dir() const { return staging_dir_; }
    const platform::Path& package_path() const { return package_path_; }
    const platform::Path& installer_log_path() const { return installer_log_path_; }
    // Keeps `hold` on the staged package until the owner is destroyed.
    void keep_held(std::unique_ptr<platform::FileHold> hold) { hold_ = std::move(hold); }

private:
    void remove();

    platform::Platform* platform_;
    platform::Path staging_dir_;
    platform::Path package_path_;
    platform::Path installer_log_path_;
    std::unique_ptr<platform::FileHold> hold_;
};

}  // namespace velmarch::staging
