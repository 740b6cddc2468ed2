#include "staging/staged_package.h"

#include <utility>

#include "platform/held_retry.h"
#include "platform/path/path.h"
#include "staging/staging_name.h"

namespace velmarch::staging {

StagedPackage::StagedPackage(platform::Platform& platform, platform::Path staging_dir, platform::Path package_path)
    : platform_(&platform),
      staging_dir_(std::move(staging_dir)),
      package_path_(std::move(package_path)),
      installer_log_path_(staging_dir_ / platform::path_from_utf8(kStagedInstallerLogName)) {}

StagedPackage::StagedPackage(StagedPackage&& other) noexcept
    : platform_(std::exchange(other.platform_, nullptr)),
      staging_dir_(std::move(other.staging_dir_)),
      package_path_(std::move(other.package_path_)),
      installer_log_path_(std::move(other.installer_log_path_)),
      hold_(std::move(other.hold_)) {}

StagedPackage& StagedPackage::operator=(StagedPackage&& other) noexcept {
    if (this != &other) {
        remove();
        platform_ = std::exchange(other.platform_, nullptr);
        staging_dir_ = std::move(other.staging_dir_);
        package_path_ = std::move(other.package_path_);
        installer_log_path_ = std::move(other.installer_log_path_);
        hold_ = std::move(other.hold_);
    }
    return *this;
}

StagedPackage::~StagedPackage() { remove(); }

void StagedPackage::remove() {
    if (platform_ == nullptr) return;
    // The hold would refuse the run's own deletion.
    hold_.reset();
    // Neither file may exist yet; every removal is best effort, within one
    // budget of retries.
    platform::HeldRemovalRetry retry(*platform_);
    (void)retry.delete_file(installer_log_path_);
    (void)retry.delete_file(package_path_);
    (void)retry.remove_directory_tree(staging_dir_);
    platform_ = nullptr;
}

}  // namespace velmarch::staging
