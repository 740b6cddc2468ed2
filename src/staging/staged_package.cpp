#include "staging/staged_package.h"

#include <utility>

#include "platform/paths.h"
#include "staging/staging.h"

namespace velmarch::staging {

StagedPackage::StagedPackage(platform::Platform& platform, platform::Path staging_dir,
                             platform::Path package_path)
    : platform_(&platform),
      staging_dir_(std::move(staging_dir)),
      package_path_(std::move(package_path)),
      installer_log_path_(platform::join_path(staging_dir_, kStagedInstallerLogName)) {}

StagedPackage::StagedPackage(StagedPackage&& other) noexcept
    : platform_(std::exchange(other.platform_, nullptr)),
      staging_dir_(std::move(other.staging_dir_)),
      package_path_(std::move(other.package_path_)),
      installer_log_path_(std::move(other.installer_log_path_)) {}

StagedPackage& StagedPackage::operator=(StagedPackage&& other) noexcept {
    if (this != &other) {
        remove();
        platform_ = std::exchange(other.platform_, nullptr);
        staging_dir_ = std::move(other.staging_dir_);
        package_path_ = std::move(other.package_path_);
        installer_log_path_ = std::move(other.installer_log_path_);
    }
    return *this;
}

StagedPackage::~StagedPackage() { remove(); }

void StagedPackage::remove() {
    if (platform_ == nullptr) return;
    // Neither file may exist yet; every removal is best effort.
    (void)platform_->delete_file(installer_log_path_);
    (void)platform_->delete_file(package_path_);
    (void)platform_->remove_directory_tree(staging_dir_);
    platform_ = nullptr;
}

}  // namespace velmarch::staging
