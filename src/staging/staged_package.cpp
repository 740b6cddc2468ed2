#include "staging/staged_package.h"

#include <utility>

namespace velmarch::staging {

StagedPackage::StagedPackage(platform::Platform& platform, platform::Path staging_dir,
                             platform::Path package_path)
    : platform_(&platform), staging_dir_(std::move(staging_dir)), package_path_(std::move(package_path)) {}

StagedPackage::StagedPackage(StagedPackage&& other) noexcept
    : platform_(std::exchange(other.platform_, nullptr)),
      staging_dir_(std::move(other.staging_dir_)),
      package_path_(std::move(other.package_path_)) {}

StagedPackage& StagedPackage::operator=(StagedPackage&& other) noexcept {
    if (this != &other) {
        remove();
        platform_ = std::exchange(other.platform_, nullptr);
        staging_dir_ = std::move(other.staging_dir_);
        package_path_ = std::move(other.package_path_);
    }
    return *this;
}

StagedPackage::~StagedPackage() { remove(); }

void StagedPackage::remove() {
    if (platform_ == nullptr) return;
    // The package may not exist yet; both removals are best effort.
    (void)platform_->delete_file(package_path_);
    (void)platform_->remove_directory_tree(staging_dir_);
    platform_ = nullptr;
}

}  // namespace velmarch::staging
