#include "platform/trusted_walk.h"

#include <deque>

namespace velmarch::platform {
namespace {

using Pending = std::deque<NativeString>;

bool is_dot(const NativeString& name) { return name.empty() || name == NativeString(1, Path::value_type('.')); }
bool is_dot_dot(const NativeString& name) { return name == NativeString(2, Path::value_type('.')); }

// The components after the root; "" and "." say nothing and are dropped.
Pending components_of(const Path& path) {
    Pending out;
    for (const Path& piece : path.relative_path())
        if (!is_dot(piece.native())) out.push_back(piece.native());
    return out;
}

void put_in_front(Pending& pending, const Pending& first) { pending.insert(pending.begin(), first.begin(), first.end()); }

NativeString dot() { return NativeString(1, Path::value_type('.')); }

}  // namespace

Result<NativeString> walk_trusted_path(PathCursor& cursor, const Path& path, WalkOptions options) {
    if (auto started = cursor.start(path.root_path()); !started) return std::unexpected(started.error());
    Pending pending = components_of(path);
    // Links followed, and directories found again after creating them: both
    // bounded, so that nothing another process does keeps the walk going.
    int links = 0;
    int retries = 0;

    while (!pending.empty()) {
        NativeString name = std::move(pending.front());
        pending.pop_front();
        const bool last = pending.empty();

        if (is_dot_dot(name)) {
            if (auto entered = cursor.enter(name); !entered) return std::unexpected(entered.error());
            continue;
        }

        Result<EntryInfo> entry = cursor.inspect(name);
        if (!entry) return std::unexpected(entry.error());
        switch (entry->kind) {
            case EntryKind::link: {
                if (last && !options.follow_final_link && !options.create_directories) return name;
                if (!entry->trusted_owner) return std::unexpected(cursor.untrusted_link_error());
                if (++links > kMaxLinksFollowed) return std::unexpected(cursor.too_many_links_error());
                Result<Path> target = cursor.link_target(name);
                if (!target) return std::unexpected(target.error());
                // A relative target is read from the link's own directory,
                // where the cursor stands.
                if (target->has_root_path()) {
                    if (auto started = cursor.start(target->root_path()); !started)
                        return std::unexpected(started.error());
                }
                put_in_front(pending, components_of(*target));
                break;
            }
            case EntryKind::missing:
                if (options.create_directories) {
                    if (++retries > kMaxLinksFollowed) return std::unexpected(cursor.missing_directory_error());
                    if (auto made = cursor.make_directory(name); !made) return std::unexpected(made.error());
                    // Looked at again: what now stands there decides.
                    pending.push_front(name);
                    break;
                }
                if (last) return name;
                return std::unexpected(cursor.missing_directory_error());
            case EntryKind::directory:
                if (last && !options.create_directories) return name;
                if (auto entered = cursor.enter(name); !entered) return std::unexpected(entered.error());
                break;
            case EntryKind::other:
                if (last && !options.create_directories) return name;
                return std::unexpected(cursor.not_a_directory_error());
        }
    }
    return dot();
}

}  // namespace velmarch::platform
