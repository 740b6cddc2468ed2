#pragma once
#include "platform/platform.h"

namespace velmarch::staging {

// The staging directory, the staged package inside it and the file Windows
// Installer writes its log to there. Destroying the owner deletes the log, the
// package and then the directory tree, ignoring failures.
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

private:
    void remove();

    platform::Platform* platform_;
    platform::Path staging_dir_;
    platform::Path package_path_;
    platform::Path installer_log_path_;
};

}  // namespace velmarch::staging
