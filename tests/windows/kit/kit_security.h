#pragma once
// Access lists, tokens and junctions: what the checks need to read back the
// staging directory's protection and to act as an ordinary user.

#include <filesystem>
#include <string>

#include "../helper_support.h"
#include "platform/platform.h"
#include "platform/win32/owners.h"

namespace velmarch::kit {

// The descriptor the updater gives its staging directory.
inline constexpr wchar_t kStagingDescriptor[] = L"O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

bool running_elevated();

// <Windows directory>\Temp, where the updater stages.
std::filesystem::path windows_temp();

[[nodiscard]] Result<void> create_directory_with_descriptor(const std::filesystem::path& path,
                                                            const wchar_t* descriptor);

// Owner, group and access list of a file or directory as descriptor text.
[[nodiscard]] Result<std::string> descriptor_text(const std::filesystem::path& path);

// Succeeds when `path` carries exactly the staging protection: owner and
// group Administrators, a protected access list (nothing taken over from the
// parent) of two entries granting full access, inherited by files and
// folders, to LocalSystem and to Administrators; the error says what differs.
[[nodiscard]] Result<void> expect_staging_protection(const std::filesystem::path& path);

// Succeeds when every entry of the access list of `path` allows access to
// LocalSystem or Administrators only.
[[nodiscard]] Result<void> expect_administrators_only(const std::filesystem::path& path);

// A token of an ordinary (not elevated) user of this session: the desktop
// shell's when it is not elevated, otherwise this process's token without
// its privileges and Administrators membership, at medium integrity, owning
// what it creates. `origin` says which.
[[nodiscard]] Result<platform::win32::UniqueHandle> ordinary_user_token(std::string& origin);

// Creates the directory `link` as the user of `token` and turns it into a
// junction (mount point) to `target`.
[[nodiscard]] Result<void> plant_junction_as(HANDLE token, const std::filesystem::path& link,
                                             const std::filesystem::path& target);

// Empties the existing folder `folder` as the user of `token` and turns it
// into a junction to `target`: what a user with full control of a folder an
// administrator created can do without any privilege.
[[nodiscard]] Result<void> turn_into_junction_as(HANDLE token, const std::filesystem::path& folder,
                                                 const std::filesystem::path& target);

// As the user of `token`: replaces the access list of `path` itself (a
// junction is not followed) with a protected one that grants full control to
// LocalSystem and Administrators only, leaving every ordinary user out. Fails
// (with the system's reason) where the user holds no WRITE_DAC on it.
[[nodiscard]] Result<void> lock_down_as(HANDLE token, const std::filesystem::path& path);

// As the user of `token`: moves the folder `folder` aside to `aside` and puts
// a junction to `target` in its place (what a user with full control of the
// folder's parent can do at any moment, without any privilege).
[[nodiscard]] Result<void> swap_in_junction_as(HANDLE token, const std::filesystem::path& folder,
                                               const std::filesystem::path& aside, const std::filesystem::path& target);

// As the user of `token`: removes the junction at `folder` and moves `aside`
// back in its place.
[[nodiscard]] Result<void> swap_back_as(HANDLE token, const std::filesystem::path& folder,
                                        const std::filesystem::path& aside);

// Makes `link` a file symbolic link to `target` as the user of `token`, which
// an ordinary user can do where Developer Mode is on. Fails (with the reason)
// where the system refuses, or answers success without making a link.
[[nodiscard]] Result<void> create_symbolic_link_as(HANDLE token, const std::filesystem::path& link,
                                                   const std::filesystem::path& target);

// Who owns `path`: "Administrators", "SYSTEM" or a SID's string form.
[[nodiscard]] Result<std::string> owner_name(const std::filesystem::path& path);

}  // namespace velmarch::kit
