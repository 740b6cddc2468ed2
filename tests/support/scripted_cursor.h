#pragma once
// A path cursor over an in-memory tree for the walk's tests. Keys are generic
// paths ("/a/b"); the cursor stands in one of them. "." and ".." answer as on
// a real file system: the directory itself and its parent, both directories
// (the root is its own parent). The walk must never enter either: a
// directory's parent is wherever its owner has moved it by then.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/rules/trusted_walk.h"
#include "support/test_paths.h"

namespace velmarch::testing {

// `Node` holds `kind` and `target` (links only); a default one is a directory.
template <class Node>
class ScriptedCursor final : public platform::PathCursor {
public:
    // Whether `link`, found in the directory `parent`, is a trusted one.
    using TrustRule = std::function<bool(const Node& link, const Node& parent)>;

    explicit ScriptedCursor(TrustRule trusted) : trusted_(std::move(trusted)) {}

    std::map<std::string, Node> tree{{"/", Node{}}};
    std::string here;
    std::vector<std::string> made;
    // What appears instead of a directory the walk creates (a race).
    std::map<std::string, Node> planted_on_creation;
    // A directory the walk creates is gone again before it looks (a user
    // removing it each time).
    bool created_directories_vanish = false;
    // Directories on a remote volume (a mapped drive; a network mount on the
    // stand-in), with everything below them; a query that fails.
    std::vector<std::string> remote_volumes;
    std::optional<std::string> volume_failure;
    // Where the cursor stood at each volume query, and every name inspected.
    std::vector<std::string> volume_queries;
    std::vector<std::string> inspected;

    void add(const std::string& path, Node node) { tree[path] = std::move(node); }

    // Far more directories created than any walk needs: the walk would never
    // have stopped. Answered as an error, so that the test fails, not hangs.
    static constexpr std::size_t kEndlessCreation = 10'000;

    Result<void> start(const platform::Path& root) override {
        // Not `here = "/"`: GCC 12 at -O3 reports that assignment as an
        // overlapping copy (a false -Wrestrict, GCC bug 105329).
        here.clear();
        here.append(root.empty() ? "/cwd" : "/");
        return {};
    }

    Result<platform::EntryInfo> inspect(const platform::NativeString& name) override {
        const std::string path = child(name);
        inspected.push_back(path);
        auto it = tree.find(path);
        if (it == tree.end()) return platform::EntryInfo{platform::EntryKind::missing};
        return platform::EntryInfo{it->second.kind, it->second.kind == platform::EntryKind::link &&
                                                        trusted_(it->second, tree.at(parent_of(path)))};
    }

    Result<void> enter(const platform::NativeString& name) override {
        if (is_dot_or_dot_dot(name)) {
            ADD_FAILURE() << "the walk entered " << platform::Path(name) << " in " << here;
            return fail(ErrorKind::os_error, not_a_directory_error());
        }
        auto it = tree.find(child(name));
        if (it == tree.end() || it->second.kind != platform::EntryKind::directory)
            return fail(ErrorKind::os_error, not_a_directory_error());
        here = it->first;
        return {};
    }

    Result<platform::Path> link_target(const platform::NativeString& name) override {
        auto it = tree.find(child(name));
        if (it == tree.end() || it->second.kind != platform::EntryKind::link)
            return fail(ErrorKind::untrusted_link, untrusted_link_error());
        return as_path(it->second.target);
    }

    Result<void> make_directory(const platform::NativeString& name) override {
        const std::string path = child(name);
        made.push_back(path);
        if (made.size() > kEndlessCreation) return fail(ErrorKind::general, "created without end");
        if (created_directories_vanish) return {};
        if (auto planted = planted_on_creation.find(path); planted != planted_on_creation.end())
            tree[path] = planted->second;
        else
            tree.try_emplace(path, Node{});
        return {};
    }

    Result<platform::VolumeKind> volume() override {
        volume_queries.push_back(here);
        if (volume_failure) return fail(ErrorKind::os_error, *volume_failure);
        for (const std::string& remote : remote_volumes)
            if (here == remote || here.starts_with(remote + "/")) return platform::VolumeKind::remote;
        return platform::VolumeKind::local;
    }

    std::string untrusted_link_error() const override { return "untrusted link"; }
    std::string too_many_links_error() const override { return "too many links"; }
    std::string missing_directory_error() const override { return "missing directory"; }
    std::string not_a_directory_error() const override { return "not a directory"; }

private:
    static bool is_dot_or_dot_dot(const platform::NativeString& name) {
        return platform::Path(name) == as_path(".") || platform::Path(name) == as_path("..");
    }

    static std::string parent_of(const std::string& path) {
        const std::size_t slash = path.rfind('/');
        return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
    }

    // The key `name` leads to from here; "." and ".." as the system reads them.
    std::string child(const platform::NativeString& name) const {
        if (platform::Path(name) == as_path(".")) return here;
        if (platform::Path(name) == as_path("..")) return parent_of(here);
        const std::string text = generic_utf8(platform::Path(name));
        return here == "/" ? "/" + text : here + "/" + text;
    }

    TrustRule trusted_;
};

}  // namespace velmarch::testing
