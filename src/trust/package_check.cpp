#include "trust/package_check.h"

#include "text/ascii_case.h"
#include "trust/update_signature.h"

namespace velmarch::trust {
namespace {

constexpr std::string_view kNotMsiFile = "The downloaded update package is not a valid MSI file.";
constexpr std::string_view kDigestMismatch = "Update package SHA-256 verification failed.";

}  // namespace

bool has_msi_extension(const platform::Path& package) {
    // Native units (UTF-16 on Windows): an extension of three units that are
    // m, s, i in either ASCII case is exactly the valid three-byte UTF-8 "msi";
    // anything else fails both tests.
    const platform::NativeString name = package.filename().native();
    const auto dot = name.rfind(platform::Path::value_type('.'));
    if (dot == platform::NativeString::npos || dot == 0) return false;
    const platform::NativeString extension = name.substr(dot + 1);
    constexpr std::string_view kMsi = "msi";
    if (extension.size() != kMsi.size()) return false;
    for (std::size_t i = 0; i < kMsi.size(); ++i) {
        if (text::ascii_lower(extension[i]) != static_cast<platform::Path::value_type>(kMsi[i])) return false;
    }
    return true;
}

Result<VerifiedPackage> verify_update_package(platform::Platform& platform, const platform::Path& package,
                                              const PackageClaim& claim) {
    if (platform.file_type(package) != platform::FileType::file)
        return fail(ErrorKind::refused, std::string(kNotMsiFile));
    if (!has_msi_extension(package)) return fail(ErrorKind::refused, std::string(kNotMsiFile));

    // The open itself refuses a FIFO or device, swapped in or not: a package
    // of the wrong type, not an error of the system.
    auto file = platform.open_for_reading(package);
    if (!file) {
        if (file.error().kind == ErrorKind::not_a_regular_file)
            return fail(ErrorKind::refused, std::string(kNotMsiFile));
        return std::unexpected(std::move(file.error()));
    }
    auto digest = compute_sha256(**file);
    file->reset();
    if (!digest) return std::unexpected(std::move(digest.error()));
    if (digest->sha256 != claim.expected_sha256) return fail(ErrorKind::refused, std::string(kDigestMismatch));

    if (auto signature = verify_update_signature(claim.version, digest->sha256, claim.signature, claim.key_id,
                                                 claim.signature_algorithm);
        !signature)
        return std::unexpected(std::move(signature.error()));
    return VerifiedPackage{digest->length};
}

}  // namespace velmarch::trust
