#include "process/version_check.h"

#include <string_view>

#include "process/launcher.h"
#include "text/format.h"
#include "text/utf.h"

namespace velmarch::process {
namespace {

constexpr std::string_view kApplicationMissing = "The installed application executable was not found after the update.";
constexpr std::string_view kCouldNotVerify = "The installed application version could not be verified: {}";
constexpr std::string_view kVersionNotConfirmed =
    "The installed application did not report expected version {} after Windows Installer completed.";
constexpr std::u16string_view kVerifySwitch = u"--verify-installed-version";

}  // namespace

Result<void> verify_installed_version(platform::Platform& platform, const platform::Path& app_path,
                                      const platform::Path& install_dir, std::string_view expected_version) {
    if (platform.file_type(app_path) != platform::FileType::file)
        return fail(ErrorKind::general, std::string(kApplicationMissing));

    const std::vector<Argument> arguments{
        {std::u16string(kVerifySwitch)},
        {text::utf8_to_utf16_lossy(expected_version)},
    };
    // The application is named by its full path: nothing is searched.
    auto exit_code = run_and_wait(platform, app_path, arguments, install_dir, SearchPlaces::none);
    if (!exit_code) return fail(with_context(exit_code.error(), kCouldNotVerify));
    if (*exit_code != 0) return fail(ErrorKind::general, text::format(kVersionNotConfirmed, expected_version));
    return {};
}

}  // namespace velmarch::process
