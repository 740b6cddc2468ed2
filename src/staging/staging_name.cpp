#include "staging/staging_name.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "text/format.h"
#include "text/hex.h"

namespace velmarch::staging {
namespace {

constexpr std::size_t kRandomDigits = 32;
constexpr std::size_t kMaxProcessIdDigits = 10;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_lower_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f'); }

bool is_process_id(std::string_view digits) {
    if (digits.empty() || digits.size() > kMaxProcessIdDigits || !std::ranges::all_of(digits, is_digit)) return false;
    if (digits.size() > 1 && digits.front() == '0') return false;
    std::uint64_t value = 0;
    for (char c : digits) value = value * 10 + static_cast<std::uint64_t>(c - '0');
    return value <= std::numeric_limits<std::uint32_t>::max();
}

}  // namespace

std::string staging_directory_name(std::uint32_t process_id, const StagingRandom& random) {
    return text::format("{}{}-{}", kStagingNamePrefix, process_id, text::encode_hex_lower(random));
}

bool is_staging_directory_name(std::string_view name) {
    if (!name.starts_with(kStagingNamePrefix)) return false;
    name.remove_prefix(kStagingNamePrefix.size());
    if (name.size() < kRandomDigits + 2) return false;
    const std::string_view random = name.substr(name.size() - kRandomDigits);
    const std::string_view rest = name.substr(0, name.size() - kRandomDigits);
    if (rest.back() != '-') return false;
    return is_process_id(rest.substr(0, rest.size() - 1)) && std::ranges::all_of(random, is_lower_hex);
}

}  // namespace velmarch::staging
