// is_trusted_windows_link over owners and access lists decoded from the
// input. Properties that hold whatever the lists say:
//   - a trusted link has a trusted owner;
//   - deny entries never decide anything (they are not weighed);
//   - granting an untrusted account one right that changes the link, or one
//     that deletes entries of its parent, makes any link untrusted;
//   - entries that are only inherited say nothing about the link.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/rules/trusted_access.h"
#include "platform/rules/trusted_owner.h"
#include "support/check.h"

namespace {

using namespace velmarch::platform;

constexpr const char* kSids[] = {
    "S-1-5-32-544",
    "S-1-5-18",
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
    "S-1-5-32-545",
    "S-1-1-0",
    "S-1-5-11",
    "S-1-3-0",
    "S-1-3-4",
    "S-1-5-21-1-2-3-1001",
    "",
};
constexpr std::size_t kSidCount = sizeof kSids / sizeof kSids[0];

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint32_t word() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = (value << 8) | byte();
        return value;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

SecurityDescription read_description(Reader& in) {
    SecurityDescription out;
    out.owner = kSids[in.byte() % kSidCount];
    const std::uint8_t count = in.byte();
    if (count == 0xFF) return out;  // a NULL access list
    out.dacl.emplace();
    for (std::uint8_t i = 0; i < count % 8; ++i) {
        const std::uint8_t kind = in.byte();
        AccessEntry entry;
        entry.kind = kind % 16 == 0 ? AccessEntryKind::unknown
                                    : (kind % 2 == 0 ? AccessEntryKind::deny : AccessEntryKind::allow);
        entry.inherit_only = (kind & 0x80) != 0;
        entry.sid = kSids[in.byte() % kSidCount];
        entry.mask = in.word();
        out.dacl->push_back(entry);
    }
    return out;
}

SecurityDescription without_deny(SecurityDescription description) {
    if (!description.dacl) return description;
    std::erase_if(*description.dacl, [](const AccessEntry& entry) { return entry.kind == AccessEntryKind::deny; });
    return description;
}

SecurityDescription plus(SecurityDescription description, AccessEntry entry) {
    if (description.dacl) description.dacl->push_back(std::move(entry));
    return description;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in(data, size);
    const SecurityDescription link = read_description(in);
    const SecurityDescription parent = read_description(in);
    const bool trusted = is_trusted_windows_link(link, parent);

    FUZZ_CHECK(!trusted || is_trusted_windows_owner(link.owner), "a trusted link has a trusted owner");
    FUZZ_CHECK(is_trusted_windows_link(without_deny(link), without_deny(parent)) == trusted,
               "deny entries never decide");

    const std::uint32_t bit = 1u << (in.byte() % 32);
    const AccessEntry user_entry{.kind = AccessEntryKind::allow, .sid = "S-1-5-21-1-2-3-1001", .mask = bit};
    if ((bit & kRightsThatChangeALink) != 0)
        FUZZ_CHECK(!is_trusted_windows_link(plus(link, user_entry), parent), "a user who may change the link");
    if ((bit & kRightsThatReplaceAnEntry) != 0)
        FUZZ_CHECK(!is_trusted_windows_link(link, plus(parent, user_entry)), "a user who may replace the link");
    AccessEntry inherited = user_entry;
    inherited.mask = in.word();
    inherited.inherit_only = true;
    FUZZ_CHECK(is_trusted_windows_link(plus(link, inherited), plus(parent, inherited)) == trusted,
               "inherit-only entries say nothing about the link");
    return 0;
}
