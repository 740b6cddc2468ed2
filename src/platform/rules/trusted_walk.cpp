#include "platform/rules/trusted_walk.h"

#include <deque>

#include "platform/path/full_path.h"
#include "platform/path/path_parts.h"

namespace velmarch::platform {
namespace {

using Char = Path::value_type;
using Pending = std::deque<NativeString>;

NativeString dot() { return NativeString(1, Char('.')); }
bool is_dot_or_dot_dot(const NativeString& name) { return name == dot() || name == NativeString(2, Char('.')); }

[[nodiscard]] Result<void> require_local_volume(PathCursor& cursor) {
    Result<VolumeKind> volume = cursor.volume();
    if (!volume) return std::unexpected(volume.error());
    if (*volume != VolumeKind::local) return fail_not_on_a_local_volume();
    return {};
}

// The walk's place as text: a root and the names entered below it. A ".."
// is resolved on this text, never by asking the system for a parent.
class Position {
public:
    // Stands at the root of `text` with its components, "." and ".." resolved
    // by text, waiting to be walked. What is left of them (a relative text
    // climbing above its start, a verbatim text) is refused: the walk never
    // goes up.
    [[nodiscard]] Result<void> begin(PathCursor& cursor, const NativeString& text) {
        // Nothing on a share or a device is opened, not even its root.
        if (volume_by_text(std::basic_string_view<Char>(text), kNativePathStyle) == TextVolume::not_local)
            return fail_not_on_a_local_volume();
        SplitPath<Char> split = split_path(std::basic_string_view<Char>(text), kNativePathStyle);
        for (const NativeString& name : split.components)
            if (is_dot_or_dot_dot(name)) return fail(ErrorKind::os_error, cursor.missing_directory_error());
        if (auto started = cursor.start(Path(split.root)); !started) return std::unexpected(started.error());
        if (auto local = require_local_volume(cursor); !local) return local;
        here_ = Path(std::move(split.root));
        pending = Pending(split.components.begin(), split.components.end());
        return {};
    }

    void entered(const NativeString& name) { here_ /= Path(name); }

    // The text of where a link in the current directory leads, with the
    // names still to walk after it.
    NativeString through_link(const Path& target) const {
        Path rest = target;
        for (const NativeString& name : pending) rest /= Path(name);
        return full_path_text(NativeView(rest.native()), NativeView(here_.native()), kNativePathStyle);
    }

    Pending pending;

private:
    // The root and the directories entered below it.
    Path here_;
};

}  // namespace

Result<NativeString> walk_trusted_path(PathCursor& cursor, const Path& path, WalkOptions options) {
    Position position;
    if (auto begun = position.begin(cursor, path.native()); !begun) return std::unexpected(begun.error());
    Pending& pending = position.pending;
    // Links followed, and directories found again after creating them: both
    // bounded, so that nothing another process does keeps the walk going.
    int links = 0;
    int retries = 0;

    while (!pending.empty()) {
        NativeString name = std::move(pending.front());
        pending.pop_front();
        const bool last = pending.empty();

        Result<EntryInfo> entry = cursor.inspect(name);
        if (!entry) return std::unexpected(entry.error());
        switch (entry->kind) {
            case EntryKind::link: {
                if (last && !options.follow_final_link && !options.create_directories) return name;
                if (!entry->trusted_owner) return fail(ErrorKind::untrusted_link, cursor.untrusted_link_error());
                if (++links > kMaxLinksFollowed) return fail(ErrorKind::os_error, cursor.too_many_links_error());
                Result<Path> target = cursor.link_target(name);
                if (!target) return std::unexpected(target.error());
                // A relative target is read from the link's own directory;
                // the whole text is then walked again from its root.
                const NativeString next = position.through_link(*target);
                if (auto begun = position.begin(cursor, next); !begun) return std::unexpected(begun.error());
                break;
            }
            case EntryKind::missing:
                if (options.create_directories) {
                    if (++retries > kMaxLinksFollowed)
                        return fail(ErrorKind::os_error, cursor.missing_directory_error());
                    if (auto made = cursor.make_directory(name); !made) return std::unexpected(made.error());
                    // Looked at again: what now stands there decides.
                    pending.push_front(name);
                    break;
                }
                if (last) return name;
                return fail(ErrorKind::os_error, cursor.missing_directory_error());
            case EntryKind::directory:
                if (last && !options.create_directories) return name;
                if (auto entered = cursor.enter(name); !entered) return std::unexpected(entered.error());
                if (auto local = require_local_volume(cursor); !local) return std::unexpected(local.error());
                position.entered(name);
                break;
            case EntryKind::other:
                if (last && !options.create_directories) return name;
                return fail(ErrorKind::os_error, cursor.not_a_directory_error());
        }
    }
    return dot();
}

}  // namespace velmarch::platform
