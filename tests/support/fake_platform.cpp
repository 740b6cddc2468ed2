#include "support/fake_platform.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/path/path.h"
#include "platform/path/path_parts.h"
#include "text/format.h"

namespace velmarch::testing {
namespace {

using platform::DirectoryCreation;
using platform::FileType;

std::string key_of(const std::filesystem::path& path) {
    std::string key = path.lexically_normal().generic_string();
    while (key.size() > 1 && key.back() == '/') key.pop_back();
    return key;
}

std::string key_of(const platform::Path& path) { return key_of(fs_path(path)); }
std::string key_of(const FakePath& path) { return key_of(path.path); }

std::string_view as_text(std::span<const std::byte> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string parent_key(const std::string& key) { return key_of(std::filesystem::path(key).parent_path()); }

// The key a path names once the links at its end are followed.
std::string resolved(const std::map<std::string, std::string>& links, std::string key) {
    for (int hops = 0; hops < 8; ++hops) {
        auto link = links.find(key);
        if (link == links.end()) return key;
        key = link->second;
    }
    return {};
}

class FakeFile : public platform::File {
public:
    // Its calls are named by the call that opened it ("download, open #2").
    FakeFile(FakePlatform& owner, std::string key, bool writable)
        : owner_(owner),
          key_(std::move(key)),
          handle_subject_(text::format("{}, open #{}", owner.current_site().subject, owner.current_site().nth)),
          writable_(writable) {
        ++owner_.files_opened;
        if (writable_) owner_.files_being_created.insert(key_);
    }
    ~FakeFile() override {
        if (writable_) owner_.files_being_created.erase(owner_.files_being_created.find(key_));
        ++owner_.files_closed;
    }

    Result<std::size_t> read(std::span<std::byte> buffer) override {
        if (auto failure = owner_.enter_as(Op::read, handle_subject_)) return std::unexpected(*failure);
        if (writable_) return velmarch::fail(ErrorKind::os_error, fake_os_error(5));
        auto it = owner_.files_.find(key_);
        if (it == owner_.files_.end() || offset_ >= it->second.size()) return 0;
        const std::size_t n = std::min({buffer.size(), it->second.size() - offset_, owner_.max_read_chunk});
        std::memcpy(buffer.data(), it->second.data() + offset_, n);
        offset_ += n;
        return n;
    }

    Result<std::size_t> write(std::span<const std::byte> bytes) override {
        if (auto failure = owner_.enter_as(Op::write, handle_subject_)) return std::unexpected(*failure);
        if (!writable_) return velmarch::fail(ErrorKind::os_error, fake_os_error(5));
        if (owner_.write_accepts_nothing) return 0;
        const std::size_t n = std::min(bytes.size(), owner_.max_write_chunk);
        auto& content = owner_.files_[key_];
        content.insert(content.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        return n;
    }

    Result<void> flush() override {
        if (auto failure = owner_.enter_as(Op::flush, handle_subject_)) return std::unexpected(*failure);
        return {};
    }

    Result<std::uint64_t> size() override {
        auto it = owner_.files_.find(key_);
        return it == owner_.files_.end() ? 0 : it->second.size();
    }

private:
    FakePlatform& owner_;
    std::string key_;
    std::string handle_subject_;
    bool writable_;
    std::size_t offset_ = 0;
};

class FakeDescriptor : public platform::SecurityDescriptor {
public:
    explicit FakeDescriptor(FakePlatform& owner) : owner_(owner) { ++owner_.descriptors_created; }
    ~FakeDescriptor() override { ++owner_.descriptors_freed; }

private:
    FakePlatform& owner_;
};

class FakeProcess : public platform::WaitableProcess {
public:
    FakeProcess(FakePlatform& owner, std::uint32_t id) : owner_(owner), id_(id) { ++owner_.processes_opened; }
    ~FakeProcess() override { ++owner_.processes_closed; }
    platform::WaitOutcome wait(std::uint32_t milliseconds) override {
        owner_.wait_limits.push_back(milliseconds);
        if (owner_.enter(Op::wait, "process " + std::to_string(id_))) return platform::WaitOutcome::failed;
        return owner_.wait_outcome;
    }

private:
    FakePlatform& owner_;
    std::uint32_t id_;
};

class FakeHold : public platform::FileHold {
public:
    FakeHold(FakePlatform& owner, std::string key) : owner_(owner), key_(std::move(key)) {
        ++owner_.held_opened;
        owner_.held_files.insert(key_);
    }
    ~FakeHold() override {
        owner_.held_files.erase(key_);
        ++owner_.held_closed;
    }

private:
    FakePlatform& owner_;
    std::string key_;
};

platform::HeldKind kind_at(const FakePlatform& owner, const std::string& key) {
    if (owner.links_.contains(key)) return platform::HeldKind::link;
    if (owner.directories_.contains(key)) return platform::HeldKind::directory;
    if (owner.files_.contains(key)) return platform::HeldKind::regular_file;
    return platform::HeldKind::other;
}

bool entry_exists(const FakePlatform& owner, const std::string& key) {
    return owner.links_.contains(key) || owner.directories_.contains(key) || owner.files_.contains(key) ||
           owner.specials_.contains(key);
}

Result<platform::HeldFacts> facts_at(FakePlatform& owner, const std::string& key) {
    if (auto failure = owner.enter(Op::held_facts, key)) return std::unexpected(*failure);
    if (!entry_exists(owner, key)) return velmarch::fail(ErrorKind::os_error, fake_os_error(2));
    platform::HeldFacts facts;
    facts.kind = kind_at(owner, key);
    facts.trusted_owner = !owner.untrusted_owned.contains(key);
    auto modified = owner.modified.find(key);
    facts.modified_unix_seconds = modified == owner.modified.end() ? 0 : modified->second;
    return facts;
}

// Appended in place: GCC 12 at -O2 and above takes `"/" + std::string(name)`
// for an overlapping copy (a false -Wrestrict, GCC bug 105329).
std::string child_key(const std::string& parent, std::string_view name) {
    std::string key = parent == "/" ? std::string() : parent;
    key += '/';
    key += name;
    return key;
}

// Opened without following a link: a link is taken as itself, as Windows
// does with FILE_OPEN_REPARSE_POINT. Held like a run's own file while taken.
class FakeTakenFile : public platform::TakenFile {
public:
    FakeTakenFile(FakePlatform& owner, std::string key) : hold_(owner, key), owner_(owner), key_(std::move(key)) {}
    Result<platform::HeldFacts> facts() override { return facts_at(owner_, key_); }
    Result<void> remove() override {
        if (auto failure = owner_.enter(Op::held_remove, key_)) return std::unexpected(*failure);
        if (owner_.links_.erase(key_) == 0 && owner_.files_.erase(key_) == 0 && owner_.specials_.erase(key_) == 0)
            return velmarch::fail(ErrorKind::os_error, fake_os_error(2));
        owner_.swept.push_back(as_path(key_));
        return {};
    }

private:
    FakeHold hold_;
    FakePlatform& owner_;
    std::string key_;
};

class FakeHeldDirectory : public platform::HeldDirectory {
public:
    FakeHeldDirectory(FakePlatform& owner, std::string key) : owner_(owner), key_(std::move(key)) {
        ++owner_.held_opened;
    }
    ~FakeHeldDirectory() override { ++owner_.held_closed; }

    Result<platform::HeldFacts> facts() override { return facts_at(owner_, key_); }

    Result<bool> has_access_list(const platform::SecurityDescriptor&) override {
        if (auto failure = owner_.enter(Op::held_access_list, key_)) return std::unexpected(*failure);
        return !owner_.foreign_access_lists.contains(key_);
    }

    Result<std::vector<std::string>> names(std::string_view prefix, std::size_t limit) override {
        if (auto failure = owner_.enter(Op::held_names, key_)) return std::unexpected(*failure);
        if (!owner_.directories_.contains(key_)) return velmarch::fail(ErrorKind::os_error, fake_os_error(267));
        std::set<std::string> children;
        auto collect = [&](const std::string& key) {
            if (key != key_ && parent_key(key) == key_)
                children.insert(key.substr(key_.size() + (key_ == "/" ? 0 : 1)));
        };
        for (const auto& key : owner_.directories_) collect(key);
        for (const auto& [key, content] : owner_.files_) collect(key);
        for (const auto& [key, target] : owner_.links_) collect(key);
        for (const auto& key : owner_.specials_) collect(key);
        std::vector<std::string> out;
        for (const auto& name : children) {
            if (out.size() >= limit) break;
            if (name.starts_with(prefix)) out.push_back(name);
        }
        return out;
    }

    Result<std::unique_ptr<platform::HeldDirectory>> open_directory(std::string_view name) override {
        const std::string key = child_key(key_, name);
        if (auto failure = owner_.enter(Op::held_open_directory, key)) return std::unexpected(*failure);
        if (!entry_exists(owner_, key)) return velmarch::fail(ErrorKind::os_error, fake_os_error(2));
        if (!owner_.directories_.contains(key) && !owner_.links_.contains(key))
            return velmarch::fail(ErrorKind::os_error, fake_os_error(267));
        return std::make_unique<FakeHeldDirectory>(owner_, key);
    }

    Result<std::unique_ptr<platform::TakenFile>> take_file(std::string_view name) override {
        const std::string key = child_key(key_, name);
        if (auto failure = owner_.enter(Op::take_file, key)) return std::unexpected(*failure);
        if (!entry_exists(owner_, key)) return velmarch::fail(ErrorKind::os_error, fake_os_error(2));
        if (owner_.directories_.contains(key)) return velmarch::fail(ErrorKind::os_error, fake_os_error(5));
        if (owner_.held_files.contains(key) || owner_.files_being_created.contains(key))
            return velmarch::fail(ErrorKind::os_error, fake_os_error(32));
        return std::make_unique<FakeTakenFile>(owner_, key);
    }

    Result<void> remove() override {
        if (auto failure = owner_.enter(Op::held_remove, key_)) return std::unexpected(*failure);
        if (owner_.links_.erase(key_) != 0) {
            owner_.swept.push_back(as_path(key_));
            return {};
        }
        if (!owner_.directories_.contains(key_)) return velmarch::fail(ErrorKind::os_error, fake_os_error(2));
        if (owner_.entries_below(as_path(key_)).size() > 1)
            return velmarch::fail(ErrorKind::os_error, fake_os_error(145));
        owner_.directories_.erase(key_);
        owner_.swept.push_back(as_path(key_));
        return {};
    }

private:
    FakePlatform& owner_;
    std::string key_;
};

}  // namespace

const char* op_name(Op op) {
    switch (op) {
        case Op::arguments: return "arguments";
        case Op::working_directory_for: return "working_directory_for";
        case Op::file_type: return "file_type";
        case Op::exists: return "exists";
        case Op::open_for_reading: return "open_for_reading";
        case Op::create_new_file: return "create_new_file";
        case Op::read: return "read";
        case Op::write: return "write";
        case Op::flush: return "flush";
        case Op::write_file: return "write_file";
        case Op::append_to_file: return "append_to_file";
        case Op::delete_file: return "delete_file";
        case Op::create_directories: return "create_directories";
        case Op::remove_directory_tree: return "remove_directory_tree";
        case Op::create_security_descriptor: return "create_security_descriptor";
        case Op::create_directory: return "create_directory";
        case Op::open_process_for_wait: return "open_process_for_wait";
        case Op::wait: return "wait";
        case Op::run_and_wait: return "run_and_wait";
        case Op::start_detached: return "start_detached";
        case Op::volume: return "volume";
        case Op::free_bytes: return "free_bytes";
        case Op::hold_file: return "hold_file";
        case Op::open_held_directory: return "open_held_directory";
        case Op::held_facts: return "held_facts";
        case Op::held_access_list: return "held_access_list";
        case Op::held_names: return "held_names";
        case Op::held_open_directory: return "held_open_directory";
        case Op::take_file: return "take_file";
        case Op::held_remove: return "held_remove";
    }
    return "?";
}

std::string site_name(const CallSite& site) {
    std::string name = text::format("{} of {} #{}", std::string(op_name(site.op)), site.subject, site.nth);
    if (!site.volume_of.empty()) name += ", volume of " + site.volume_of;
    return name;
}

std::string fake_os_error(std::int32_t code) {
    const char* text = "Unknown error.";
    switch (code) {
        case 2: text = "The system cannot find the file specified."; break;
        case 3: text = "The system cannot find the path specified."; break;
        case 5: text = "Access is denied."; break;
        case 32: text = "The process cannot access the file because it is being used by another process."; break;
        case 80: text = "The file exists."; break;
        case 112: text = "There is not enough space on the disk."; break;
        case 145: text = "The directory is not empty."; break;
        case 183: text = "Cannot create a file when that file already exists."; break;
        case 267: text = "The directory name is invalid."; break;
    }
    return text::format("{} (os error {})", text, code);
}

std::optional<Error> FakePlatform::volume_refusal(const Path& path) {
    if (!is_elevated) return std::nullopt;
    CallSite query = current_site_;
    query.volume_of = subject_name ? subject_name(key_of(path), {}) : key_of(path);
    if (auto failure = enter_site(query)) return failure;
    if (auto failure = enter_numbered(Op::volume)) return failure;
    const Error refused{ErrorKind::not_on_local_volume, std::string(platform::kNotOnALocalVolume)};
    using View = std::basic_string_view<Path::value_type>;
    if (platform::volume_by_text(View(path.native()), platform::kNativePathStyle) == platform::TextVolume::not_local)
        return refused;
    for (const std::string& key : {key_of(path), resolved(links_, key_of(path))})
        for (const Path& remote : remote_volumes) {
            const std::string volume = key_of(remote);
            if (key == volume || key.starts_with(volume + "/")) return refused;
        }
    return std::nullopt;
}

std::optional<Error> FakePlatform::launch_volume_refusal(const platform::LaunchRequest& launch) {
    if (auto refusal = volume_refusal(launch.application)) return refusal;
    if (launch.working_directory)
        if (auto refusal = volume_refusal(*launch.working_directory)) return refusal;
    return std::nullopt;
}

FakePlatform::FakePlatform() = default;
FakePlatform::~FakePlatform() = default;

void FakePlatform::set_environment(const std::string& name, std::string_view utf8) {
    environment[name] = platform::path_from_utf8(utf8).native();
}

void FakePlatform::add_directory(const FakePath& path) {
    for (std::string key = key_of(path); !key.empty() && !directories_.contains(key); key = parent_key(key)) {
        directories_.insert(key);
        if (parent_key(key) == key) break;
    }
}

void FakePlatform::add_file(const FakePath& path, std::string_view content) {
    const auto* first = reinterpret_cast<const std::byte*>(content.data());
    add_file(path, Bytes(first, first + content.size()));
}

void FakePlatform::add_file(const FakePath& path, Bytes content) {
    const std::string key = key_of(path);
    add_directory(as_path(parent_key(key)));
    files_[key] = std::move(content);
}

void FakePlatform::add_link(const FakePath& path, const FakePath& target) {
    const std::string key = key_of(path);
    add_directory(as_path(parent_key(key)));
    links_[key] = key_of(target);
}

void FakePlatform::add_special(const FakePath& path) {
    const std::string key = key_of(path);
    add_directory(as_path(parent_key(key)));
    specials_.insert(key);
}

bool FakePlatform::has_file(const FakePath& path) const { return files_.contains(key_of(path)); }
bool FakePlatform::has_directory(const FakePath& path) const { return directories_.contains(key_of(path)); }
bool FakePlatform::is_held(const FakePath& path) const { return held_files.contains(key_of(path)); }

std::string FakePlatform::file_text(const FakePath& path) const {
    auto it = files_.find(key_of(path));
    if (it == files_.end()) return {};
    return std::string(reinterpret_cast<const char*>(it->second.data()), it->second.size());
}

std::vector<platform::Path> FakePlatform::entries_below(const FakePath& path) const {
    const std::string key = key_of(path);
    auto below = [&](const std::string& k) { return k == key || k.starts_with(key + "/"); };
    std::vector<Path> out;
    for (const auto& d : directories_)
        if (below(d)) out.push_back(as_path(d));
    for (const auto& [k, v] : files_)
        if (below(k)) out.push_back(as_path(k));
    for (const auto& [k, v] : links_)
        if (below(k)) out.push_back(as_path(k));
    for (const auto& k : specials_)
        if (below(k)) out.push_back(as_path(k));
    return out;
}

void FakePlatform::fail(Op op, std::string message, int nth, ErrorKind kind) {
    failures_.emplace(op, Failure{Error{kind, std::move(message)}, nth});
}

void FakePlatform::set_untrusted_owner(const FakePath& path) { untrusted_owned.insert(key_of(path)); }
void FakePlatform::set_foreign_access_list(const FakePath& path) { foreign_access_lists.insert(key_of(path)); }
void FakePlatform::set_modified(const FakePath& path, std::uint64_t unix_seconds) {
    modified[key_of(path)] = unix_seconds;
}

int FakePlatform::calls(Op op) const {
    auto it = calls_.find(op);
    return it == calls_.end() ? 0 : it->second;
}

void FakePlatform::fail_at(CallSite site, std::string message, ErrorKind kind) {
    site_failures_.insert_or_assign(std::move(site), Error{kind, std::move(message)});
}

std::optional<Error> FakePlatform::enter(Op op, const std::string& key, std::string_view written) {
    return enter_as(op, subject_name ? subject_name(key, written) : key);
}

std::optional<Error> FakePlatform::enter_as(Op op, std::string subject) {
    const int nth = ++site_calls_[{op, subject}];
    current_site_ = CallSite{op, std::move(subject), nth, {}};
    auto site_failure = enter_site(current_site_);
    auto numbered_failure = enter_numbered(op);
    return site_failure ? site_failure : numbered_failure;
}

std::optional<Error> FakePlatform::enter_site(const CallSite& site) {
    sites.push_back(site);
    if (before_site) before_site(site);
    auto failure = site_failures_.find(site);
    if (failure == site_failures_.end()) return std::nullopt;
    return failure->second;
}

std::optional<Error> FakePlatform::enter_numbered(Op op) {
    const int n = ++calls_[op];
    if (before_call) before_call(op, n);
    auto [first, last] = failures_.equal_range(op);
    for (auto it = first; it != last; ++it) {
        if (it->second.nth == 0 || it->second.nth == n) {
            return it->second.error;
        }
    }
    return std::nullopt;
}

Result<std::vector<std::string>> FakePlatform::arguments() {
    if (auto failure = enter(Op::arguments)) return std::unexpected(*failure);
    return args;
}

void FakePlatform::write_standard_error(std::string_view text) { standard_error += text; }

std::optional<platform::NativeString> FakePlatform::environment_variable(std::string_view name) {
    auto it = environment.find(std::string(name));
    if (it == environment.end()) return std::nullopt;
    return it->second;
}

std::uint64_t FakePlatform::unix_time_seconds() { return now; }
std::uint32_t FakePlatform::current_process_id() { return process_id; }

Result<platform::Path> FakePlatform::working_directory_for(const Path& path) {
    if (auto failure = enter(Op::working_directory_for, key_of(path))) return std::unexpected(*failure);
    const std::string text = platform::path_to_utf8(path);
    if (text.size() >= 2 && text[1] == ':') {
        auto drive = drive_directories.find(static_cast<char>(std::toupper(static_cast<unsigned char>(text[0]))));
        if (drive != drive_directories.end()) return drive->second;
    }
    return working_directory;
}

void FakePlatform::random_bytes(std::span<std::byte> out) {
    for (auto& b : out) b = static_cast<std::byte>(next_random++);
}

void FakePlatform::sleep_milliseconds(std::uint32_t milliseconds) {
    sleeps.push_back(milliseconds);
    now += (std::uint64_t{milliseconds} + 999) / 1000;
}

FileType FakePlatform::file_type(const Path& path) {
    if (enter(Op::file_type, key_of(path)) || volume_refusal(path)) return FileType::missing;
    const std::string key = resolved(links_, key_of(path));
    if (directories_.contains(key)) return FileType::directory;
    if (files_.contains(key) || specials_.contains(key)) return FileType::file;
    return FileType::missing;
}

bool FakePlatform::exists(const Path& path) {
    if (enter(Op::exists, key_of(path)) || volume_refusal(path)) return false;
    const std::string key = key_of(path);
    return directories_.contains(key) || files_.contains(key) || links_.contains(key) || specials_.contains(key);
}

Result<std::unique_ptr<platform::File>> FakePlatform::open_for_reading(const Path& path) {
    if (auto failure = enter(Op::open_for_reading, key_of(path))) return std::unexpected(*failure);
    if (auto refusal = volume_refusal(path)) return std::unexpected(*refusal);
    const std::string key = resolved(links_, key_of(path));
    if (directories_.contains(key)) return velmarch::fail(ErrorKind::os_error, fake_os_error(5));
    if (specials_.contains(key)) return platform::fail_not_a_regular_file();
    if (!files_.contains(key)) return velmarch::fail(ErrorKind::os_error, fake_os_error(2));
    return std::make_unique<FakeFile>(*this, key, false);
}

Result<std::unique_ptr<platform::File>> FakePlatform::create_new_file(const Path& path) {
    if (auto failure = enter(Op::create_new_file, key_of(path))) return std::unexpected(*failure);
    if (auto refusal = volume_refusal(path)) return std::unexpected(*refusal);
    const std::string key = key_of(path);
    if (files_.contains(key) || directories_.contains(key) || links_.contains(key) || specials_.contains(key))
        return velmarch::fail(ErrorKind::os_error, fake_os_error(80));
    if (!directories_.contains(parent_key(key))) return velmarch::fail(ErrorKind::os_error, fake_os_error(3));
    files_[key];
    return std::make_unique<FakeFile>(*this, key, true);
}

Result<void> FakePlatform::write_file(const Path& path, std::span<const std::byte> bytes) {
    if (auto failure = enter(Op::write_file, key_of(path), as_text(bytes))) return std::unexpected(*failure);
    if (auto refusal = volume_refusal(path)) return std::unexpected(*refusal);
    const std::string key = key_of(path);
    if (directories_.contains(key)) return velmarch::fail(ErrorKind::os_error, fake_os_error(5));
    if (specials_.contains(resolved(links_, key))) return platform::fail_not_a_regular_file();
    if (!directories_.contains(parent_key(key))) return velmarch::fail(ErrorKind::os_error, fake_os_error(3));
    files_[key] = Bytes(bytes.begin(), bytes.end());
    return {};
}

Result<void> FakePlatform::append_to_file(const Path& path, std::span<const std::byte> bytes) {
    if (auto failure = enter(Op::append_to_file, key_of(path), as_text(bytes))) return std::unexpected(*failure);
    if (auto refusal = volume_refusal(path)) return std::unexpected(*refusal);
    const std::string key = key_of(path);
    if (directories_.contains(key)) return velmarch::fail(ErrorKind::os_error, fake_os_error(5));
    if (specials_.contains(resolved(links_, key))) return platform::fail_not_a_regular_file();
    if (!directories_.contains(parent_key(key))) return velmarch::fail(ErrorKind::os_error, fake_os_error(3));
    auto& content = files_[key];
    content.insert(content.end(), bytes.begin(), bytes.end());
    return {};
}

Result<void> FakePlatform::delete_file(const Path& path) {
    if (auto failure = enter(Op::delete_file, key_of(path))) return std::unexpected(*failure);
    if (auto refusal = volume_refusal(path)) return std::unexpected(*refusal);
    const std::string key = key_of(path);
    if (held_files.contains(key)) return velmarch::fail(ErrorKind::held, fake_os_error(32));
    if (links_.erase(key) == 0 && files_.erase(key) == 0 && specials_.erase(key) == 0)
        return velmarch::fail(ErrorKind::os_error, fake_os_error(2));
    return {};
}

Result<void> FakePlatform::create_directories(const Path& path) {
    if (auto failure = enter(Op::create_directories, key_of(path))) return std::unexpected(*failure);
    if (auto refusal = volume_refusal(path)) return std::unexpected(*refusal);
    for (std::string key = key_of(path);; key = parent_key(key)) {
        if (files_.contains(key)) return velmarch::fail(ErrorKind::os_error, fake_os_error(183));
        if (parent_key(key) == key || key.empty()) break;
    }
    add_directory(path);
    return {};
}

Result<void> FakePlatform::remove_directory_tree(const Path& path) {
    if (auto failure = enter(Op::remove_directory_tree, key_of(path))) return std::unexpected(*failure);
    if (auto refusal = volume_refusal(path)) return std::unexpected(*refusal);
    const std::string key = key_of(path);
    // A link or a lone file at the top goes by itself, as on Windows.
    if (links_.erase(key) != 0 || files_.erase(key) != 0 || specials_.erase(key) != 0) return {};
    if (!directories_.contains(key)) return velmarch::fail(ErrorKind::os_error, fake_os_error(3));
    for (const Path& entry : entries_below(path))
        if (held_files.contains(key_of(entry))) return velmarch::fail(ErrorKind::held, fake_os_error(32));
    for (const Path& entry : entries_below(path)) {
        files_.erase(key_of(entry));
        directories_.erase(key_of(entry));
        links_.erase(key_of(entry));
        specials_.erase(key_of(entry));
    }
    return {};
}

Result<std::unique_ptr<platform::SecurityDescriptor>> FakePlatform::create_security_descriptor(std::string_view sddl) {
    if (auto failure = enter(Op::create_security_descriptor)) return std::unexpected(*failure);
    if (sddl.empty()) return velmarch::fail(ErrorKind::os_error, fake_os_error(1336));
    return std::make_unique<FakeDescriptor>(*this);
}

Result<DirectoryCreation> FakePlatform::create_directory(const Path& path, const platform::SecurityDescriptor&) {
    directory_attempts.push_back(path);
    if (auto failure = enter(Op::create_directory, key_of(path))) return std::unexpected(*failure);
    if (auto refusal = volume_refusal(path)) return std::unexpected(*refusal);
    const auto attempt = directory_attempts.size() - 1;
    if (attempt < directory_answers.size()) {
        auto answer = directory_answers[attempt];
        if (answer && *answer == DirectoryCreation::created) add_directory(path);
        return answer;
    }
    const std::string key = key_of(path);
    if (directories_.contains(key) || files_.contains(key) || links_.contains(key) || specials_.contains(key))
        return DirectoryCreation::already_exists;
    if (!directories_.contains(parent_key(key))) return velmarch::fail(ErrorKind::os_error, fake_os_error(3));
    directories_.insert(key);
    return DirectoryCreation::created;
}

Result<std::uint64_t> FakePlatform::free_bytes(const Path& directory) {
    free_space_queries.push_back(directory);
    if (auto failure = enter(Op::free_bytes, key_of(directory))) return std::unexpected(*failure);
    if (auto refusal = volume_refusal(directory)) return std::unexpected(*refusal);
    if (!directories_.contains(resolved(links_, key_of(directory))))
        return velmarch::fail(ErrorKind::os_error, fake_os_error(3));
    return free_space;
}

Result<std::unique_ptr<platform::FileHold>> FakePlatform::hold_file(const Path& path) {
    if (auto failure = enter(Op::hold_file, key_of(path))) return std::unexpected(*failure);
    if (auto refusal = volume_refusal(path)) return std::unexpected(*refusal);
    const std::string key = key_of(path);
    if (!files_.contains(key)) return velmarch::fail(ErrorKind::os_error, fake_os_error(links_.contains(key) ? 5 : 2));
    if (held_files.contains(key) || files_being_created.contains(key))
        return velmarch::fail(ErrorKind::os_error, fake_os_error(32));
    return std::make_unique<FakeHold>(*this, key);
}

Result<std::unique_ptr<platform::HeldDirectory>> FakePlatform::open_held_directory(const Path& path) {
    if (auto failure = enter(Op::open_held_directory, key_of(path))) return std::unexpected(*failure);
    if (auto refusal = volume_refusal(path)) return std::unexpected(*refusal);
    const std::string key = resolved(links_, key_of(path));
    if (!directories_.contains(key)) return velmarch::fail(ErrorKind::os_error, fake_os_error(3));
    return std::make_unique<FakeHeldDirectory>(*this, key);
}

bool FakePlatform::elevated() { return is_elevated; }

std::unique_ptr<platform::WaitableProcess> FakePlatform::open_process_for_wait(std::uint32_t id) {
    if (enter(Op::open_process_for_wait, "process " + std::to_string(id))) return nullptr;
    if (!running_processes.contains(id)) return nullptr;
    return std::make_unique<FakeProcess>(*this, id);
}

// Why a program cannot be started, as process creation would say it.
std::optional<Error> FakePlatform::launch_refusal(const platform::LaunchRequest& launch) const {
    if (!files_.contains(resolved(links_, key_of(launch.application))))
        return Error{ErrorKind::os_error, fake_os_error(2)};
    if (launch.working_directory && !directories_.contains(key_of(*launch.working_directory)))
        return Error{ErrorKind::os_error, fake_os_error(267)};
    return std::nullopt;
}

Result<std::int32_t> FakePlatform::run_and_wait(const platform::LaunchRequest& launch) {
    runs.push_back(launch);
    if (auto failure = enter(Op::run_and_wait, key_of(launch.application))) return std::unexpected(*failure);
    if (auto refusal = launch_volume_refusal(launch)) return std::unexpected(*refusal);
    if (auto refusal = launch_refusal(launch)) return std::unexpected(*refusal);
    if (on_run) return on_run(launch);
    return 0;
}

Result<std::uint32_t> FakePlatform::start_detached(const platform::LaunchRequest& launch) {
    detached.push_back(launch);
    if (auto failure = enter(Op::start_detached, key_of(launch.application))) return std::unexpected(*failure);
    if (auto refusal = launch_volume_refusal(launch)) return std::unexpected(*refusal);
    if (auto refusal = launch_refusal(launch)) return std::unexpected(*refusal);
    return next_detached_id++;
}

std::optional<platform::Path> FakePlatform::system_directory() { return system_dir; }
std::optional<platform::Path> FakePlatform::windows_directory() { return windows_dir; }

}  // namespace velmarch::testing
