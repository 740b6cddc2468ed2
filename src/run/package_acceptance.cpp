#include "run/package_acceptance.h"

#include "platform/held_retry.h"
#include "run/finish_run.h"
#include "run/stage_inputs.h"
#include "trust/package_check.h"

namespace velmarch::run {
namespace {

constexpr std::string_view kPackageFailed = "Package verification failed: {}";
constexpr std::string_view kStagingFailed = "Secure package staging failed: {}";

}  // namespace

std::expected<staging::StagedPackage, PackageRefusal> accept_package(platform::Platform& platform,
                                                                     const UpdateRequest& request) {
    const trust::PackageClaim claim = package_claim(request);
    const bool named_like_package = trust::has_msi_extension(request.msi_path);
    auto verified = trust::verify_update_package(platform, request.msi_path, claim);
    if (!verified)
        return std::unexpected(PackageRefusal{kPackageFailed, std::move(verified.error().text), named_like_package});
    auto staged = staging::stage_package(platform, request.msi_path, claim, verified->length);
    if (!staged)
        return std::unexpected(PackageRefusal{kStagingFailed, std::move(staged.error().text), named_like_package});
    return std::move(*staged);
}

std::int32_t finish_refused_package(platform::Platform& platform, const UpdateRequest& request,
                                    update::Reporter& reporter, const PackageRefusal& refusal) {
    if (refusal.named_like_package) {
        platform::HeldRemovalRetry retry(platform);
        (void)retry.delete_file(request.msi_path);
    }
    return finish_run(platform, reporter, text::format(refusal.log_template, refusal.message),
                      update::failure_around_installer(refusal.message), request.app_path, request.install_dir);
}

}  // namespace velmarch::run
