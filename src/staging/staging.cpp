#include "staging/staging.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

#include "platform/path/path.h"
#include "platform/write_all.h"
#include "staging/staging_name.h"
#include "text/format.h"
#include "trust/package_check.h"

namespace velmarch::staging {
namespace {

constexpr std::string_view kTempNotFound = "The protected Windows temporary directory was not found.";
constexpr std::string_view kDescriptorFailed = "The restricted staging security descriptor could not be created: {}";
constexpr std::string_view kDirectoryFailed = "The administrator-only staging directory could not be created: {}";
constexpr std::string_view kNoUniqueDirectory = "A unique administrator-only staging directory could not be created.";
constexpr std::string_view kReopenFailed = "The verified update package could not be reopened: {}";
constexpr std::string_view kCreateFailed = "The restricted staged MSI could not be created: {}";
constexpr std::string_view kCopyFailed = "The update package could not be copied to restricted staging: {}";
constexpr std::string_view kFinalizeFailed = "The restricted staged MSI could not be finalized: {}";
constexpr std::string_view kHoldFailed = "The restricted staged MSI could not be held: {}";
constexpr std::string_view kFreeSpaceUnknown = "The free space for restricted staging could not be read: {}";
constexpr std::string_view kNotEnoughSpace =
    "There is not enough free space for restricted staging: {} bytes are needed and {} are available.";

[[nodiscard]] Result<platform::Path> protected_temp_directory(platform::Platform& platform) {
    // The system's own Windows directory, never the inherited SystemRoot.
    auto windows = platform.windows_directory();
    if (!windows) return fail(ErrorKind::general, std::string(kTempNotFound));
    platform::Path temp = *windows / platform::path_from_utf8("Temp");
    if (platform.file_type(temp) != platform::FileType::directory)
        return fail(ErrorKind::general, std::string(kTempNotFound));
    return temp;
}

// The copy may take `length` bytes only where kStagingFreeSpaceReserve stays
// free after it.
[[nodiscard]] Result<void> require_free_space(platform::Platform& platform, const platform::Path& temp,
                                              std::uint64_t length) {
    auto available = platform.free_bytes(temp);
    if (!available) return fail(with_context(available.error(), kFreeSpaceUnknown));
    constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t needed = length > kMost - kStagingFreeSpaceReserve ? kMost : length + kStagingFreeSpaceReserve;
    if (*available < needed) return fail(ErrorKind::general, text::format(kNotEnoughSpace, needed, *available));
    return {};
}

[[nodiscard]] Result<platform::Path> create_staging_directory(platform::Platform& platform,
                                                              const platform::Path& temp) {
    // The descriptor lives exactly as long as the attempts: freed once,
    // whichever way the loop ends.
    auto descriptor = platform.create_security_descriptor(kStagingSecurityDescriptor);
    if (!descriptor) return fail(with_context(descriptor.error(), kDescriptorFailed));

    for (int attempt = 0; attempt < kStagingDirectoryAttempts; ++attempt) {
        StagingRandom random{};
        platform.random_bytes(random);
        platform::Path candidate =
            temp / platform::path_from_utf8(staging_directory_name(platform.current_process_id(), random));
        auto created = platform.create_directory(candidate, **descriptor);
        if (!created) return fail(with_context(created.error(), kDirectoryFailed));
        if (*created == platform::DirectoryCreation::created) return candidate;
    }
    return fail(ErrorKind::general, std::string(kNoUniqueDirectory));
}

// Copies until a read of 0 bytes or until `limit` bytes are copied, whichever
// comes first; nothing past the limit is read.
[[nodiscard]] Result<void> copy_file(platform::File& from, platform::File& to, std::uint64_t limit) {
    std::vector<std::byte> buffer(kStagingCopyBufferSize);
    for (std::uint64_t left = limit; left > 0;) {
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
        auto read = from.read(std::span(buffer.data(), wanted));
        if (!read) return std::unexpected(read.error());
        if (*read == 0) return {};
        if (auto written = platform::write_all(to, std::span(buffer.data(), *read)); !written) return written;
        left -= *read;
    }
    return {};
}

// Steps after the directory exists. `staged` is destroyed by the caller on
// failure, after these handles have been closed in this order: the staged
// package's, then the downloaded package's. The staged package is held (so
// that no sweep by another run takes it) from its creation: by the copy's own
// open file until it is closed, then until `staged` goes.
[[nodiscard]] Result<void> fill_staging(StagedPackage& staged, platform::Platform& platform,
                                        const platform::Path& downloaded, const trust::PackageClaim& claim,
                                        std::uint64_t verified_length) {
    const platform::Path& package_path = staged.package_path();
    auto source = platform.open_for_reading(downloaded);
    if (!source) return fail(with_context(source.error(), kReopenFailed));
    {
        auto target = platform.create_new_file(package_path);
        if (!target) return fail(with_context(target.error(), kCreateFailed));
        if (auto copied = copy_file(**source, **target, verified_length); !copied)
            return fail(with_context(copied.error(), kCopyFailed));
        if (auto flushed = (*target)->flush(); !flushed) return fail(with_context(flushed.error(), kFinalizeFailed));
    }
    // The copy's handle is closed; the downloaded package stays open (shared
    // for reading, writing and deletion) until the copy has been verified.
    auto hold = platform.hold_file(package_path);
    if (!hold) return fail(with_context(hold.error(), kHoldFailed));
    staged.keep_held(std::move(*hold));
    if (auto verified = trust::verify_update_package(platform, package_path, claim); !verified)
        return std::unexpected(std::move(verified.error()));
    return {};
}

}  // namespace

Result<StagedPackage> stage_package(platform::Platform& platform, const platform::Path& downloaded,
                                    const trust::PackageClaim& claim, std::uint64_t verified_length) {
    auto temp = protected_temp_directory(platform);
    if (!temp) return std::unexpected(temp.error());
    if (auto space = require_free_space(platform, *temp, verified_length); !space)
        return std::unexpected(space.error());
    auto directory = create_staging_directory(platform, *temp);
    if (!directory) return std::unexpected(directory.error());

    platform::Path package_path = *directory / platform::path_from_utf8(kStagedPackageName);
    StagedPackage staged(platform, std::move(*directory), std::move(package_path));
    if (auto filled = fill_staging(staged, platform, downloaded, claim, verified_length); !filled)
        return std::unexpected(filled.error());  // `staged` is destroyed here
    return staged;
}

}  // namespace velmarch::staging
