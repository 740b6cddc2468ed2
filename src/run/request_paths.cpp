#include "run/request_paths.h"

#include <optional>
#include <string_view>

#include "platform/path/full_path.h"
#include "platform/path/path.h"
#include "text/format.h"

namespace velmarch::run {
namespace {

constexpr std::string_view kNoWorkingDirectory = "The updater's working directory could not be read: {}";
constexpr std::string_view kAmbiguousRoot =
    "The path {} is refused: Windows reads the \".\" or \"..\" of its share or device root in its own way.";

using platform::Path;

[[nodiscard]] Result<Path> full_path(platform::Platform& platform, const Path& path) {
    using View = std::basic_string_view<Path::value_type>;
    const View text(path.native());
    const platform::PathAnchor anchor = platform::anchor_of(text, platform::kNativePathStyle);
    const auto ambiguous = [&](View whole) {
        return platform::is_ambiguous_root(whole, platform::kNativePathStyle)
                   ? std::optional(text::format(kAmbiguousRoot, platform::path_to_utf8(path)))
                   : std::nullopt;
    };
    if (anchor == platform::PathAnchor::absolute || anchor == platform::PathAnchor::verbatim) {
        if (auto refusal = ambiguous(text)) return fail(ErrorKind::refused, *refusal);
        return Path(platform::full_path_text(text, View(), platform::kNativePathStyle));
    }
    Result<Path> base = platform.working_directory_for(path);
    if (!base) return fail(with_context(base.error(), kNoWorkingDirectory));
    if (anchor == platform::PathAnchor::relative)
        if (auto refusal = ambiguous(View((*base / path).native()))) return fail(ErrorKind::refused, *refusal);
    return Path(platform::full_path_text(text, View(base->native()), platform::kNativePathStyle));
}

}  // namespace

Result<void> make_request_paths_full(platform::Platform& platform, UpdateRequest& request) {
    for (const PathOption& option : kPathOptions) {
        if (!option.made_whole) continue;
        Result<Path> full = full_path(platform, request.*option.field);
        if (!full) return std::unexpected(full.error());
        request.*option.field = std::move(*full);
    }
    return {};
}

}  // namespace velmarch::run
