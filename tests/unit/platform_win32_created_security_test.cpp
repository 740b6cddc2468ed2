// What an elevated run's folders and report files carry on Windows, read
// back as far as the system keeps it: created with the protected list of
// created_object_security, never left to inheritance. Wine keeps few
// descriptors; where it keeps none given at creation, the read-back is
// skipped with that reason.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/rules/created_object_security.h"
#include "platform/rules/trusted_access.h"
#include "platform/rules/trusted_owner.h"
#include "platform/win32/owners.h"
#include "platform/win32/platform.h"
#include "platform/win32/security_description.h"
#include "platform/win32/trusted_path.h"
#include "platform/win32/windows_api.h"
#include "platform_win32_support.h"
#include "support/scratch_folder.h"
// After the Windows headers they build on.
#include <aclapi.h>
#include <sddl.h>

namespace velmarch::platform {
namespace {

using win32::UniqueHandle;
using win32::UniqueLocalMemory;

constexpr DWORD kLockDown = WRITE_DAC | WRITE_OWNER;
constexpr const char* kOwnerRights = "S-1-3-4";

std::span<const std::byte> bytes_of(std::string_view text) { return std::as_bytes(std::span(text)); }

// The descriptor text as the system reads it back, DACL only; empty when it
// cannot be read.
struct ReadBack {
    bool is_protected = false;
    std::optional<SecurityDescription> security;
};

ReadBack read_back(const std::filesystem::path& path) {
    ReadBack back;
    const UniqueHandle handle(::CreateFileW(path.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return back;
    back.security = win32::security_of(handle.get());
    UniqueLocalMemory descriptor;
    PACL dacl = nullptr;
    if (::GetSecurityInfo(handle.get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                          descriptor.put()) == ERROR_SUCCESS) {
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        if (::GetSecurityDescriptorControl(descriptor.get(), &control, &revision))
            back.is_protected = (control & SE_DACL_PROTECTED) != 0;
    }
    return back;
}

bool lists_owner_rights(const SecurityDescription& security) {
    if (!security.dacl) return false;
    for (const AccessEntry& entry : *security.dacl)
        if (entry.sid == kOwnerRights && !entry.inherit_only) return true;
    return false;
}

// Whether this system keeps a descriptor given at creation: a folder made
// with one OWNER RIGHTS entry, read back.
bool keeps_a_descriptor_given_at_creation(const std::filesystem::path& probe) {
    UniqueLocalMemory memory;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x20000;;;S-1-3-4)",
                                                                SDDL_REVISION_1, memory.put(), nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, memory.get(), FALSE};
    if (!::CreateDirectoryW(probe.c_str(), &attributes)) return false;
    const ReadBack back = read_back(probe);
    ::RemoveDirectoryW(probe.c_str());
    return back.security && lists_owner_rights(*back.security);
}

class Win32CreatedSecurity : public ::testing::Test {
protected:
    testing::ScratchFolder temp;
    Path at(const wchar_t* name) const { return testing::to_path(temp.path() / name); }
};

// The list the run builds converts to a descriptor the system accepts: a
// protected access list of the same entries, read back from the descriptor
// itself (no file involved).
TEST_F(Win32CreatedSecurity, BuiltListConvertsToAProtectedDescriptor) {
    const UniqueHandle folder(::CreateFileW(temp.path().c_str(), READ_CONTROL | FILE_TRAVERSE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(folder.valid());
    for (const CreatedKind kind : {CreatedKind::file, CreatedKind::folder}) {
        Result<UniqueLocalMemory> built = win32::created_object_descriptor(folder.get(), kind);
        ASSERT_TRUE(built) << built.error().text;
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ASSERT_TRUE(::GetSecurityDescriptorControl(built->get(), &control, &revision));
        EXPECT_NE(control & SE_DACL_PROTECTED, 0);
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL dacl = nullptr;
        ASSERT_TRUE(::GetSecurityDescriptorDacl(built->get(), &present, &dacl, &defaulted));
        ASSERT_TRUE(present && dacl != nullptr);
        // Its entries: none gives WRITE_DAC or WRITE_OWNER to anyone but the
        // system's accounts, and the last one is OWNER RIGHTS, read only.
        bool owner_rights = false;
        for (DWORD index = 0; index < dacl->AceCount; ++index) {
            void* ace = nullptr;
            ASSERT_TRUE(::GetAce(dacl, index, &ace));
            const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
            if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
            if ((allowed->Header.AceFlags & INHERIT_ONLY_ACE) != 0) continue;
            wchar_t* text = nullptr;
            ASSERT_TRUE(::ConvertSidToStringSidW(const_cast<DWORD*>(&allowed->SidStart), &text));
            const UniqueLocalMemory text_memory(text);
            const std::wstring sid(text);
            const std::string narrow(sid.begin(), sid.end());
            if (narrow == kOwnerRights) {
                owner_rights = true;
                EXPECT_EQ(allowed->Mask, static_cast<DWORD>(READ_CONTROL));
            } else if (!is_trusted_windows_owner(narrow)) {
                EXPECT_EQ(allowed->Mask & kLockDown, 0u) << narrow;
            }
        }
        EXPECT_TRUE(owner_rights);
    }
}

// What an elevated run creates on the way to its helper log, and the log
// itself, carry the protected list where the system keeps one given at
// creation.
TEST_F(Win32CreatedSecurity, FoldersAndReportsTheRunCreatesCarryTheProtectedList) {
    if (!keeps_a_descriptor_given_at_creation(temp.path() / L"probe"))
        GTEST_SKIP() << "this system (Wine) does not keep a descriptor given at creation: a folder made with an "
                        "OWNER RIGHTS entry reads back without it";
    win32::Win32Platform platform(win32::LinkCheck::every_link);
    ASSERT_TRUE(platform.create_directories(at(L"Velmarch\\Updates")));
    ASSERT_TRUE(platform.append_to_file(at(L"Velmarch\\Updates\\helper.log"), bytes_of("line\n")));
    ASSERT_TRUE(platform.write_file(at(L"Velmarch\\Updates\\result.json"), bytes_of("{}")));
    for (const wchar_t* name :
         {L"Velmarch", L"Velmarch\\Updates", L"Velmarch\\Updates\\helper.log", L"Velmarch\\Updates\\result.json"}) {
        SCOPED_TRACE(path_to_utf8(at(name)));
        const ReadBack back = read_back(testing::fs_path(at(name)));
        ASSERT_TRUE(back.security.has_value());
        EXPECT_TRUE(back.is_protected);
        EXPECT_TRUE(lists_owner_rights(*back.security));
        EXPECT_FALSE(others_may(*back.security, kLockDown));
    }
}

// Without links checked (a run without elevation) the system's own
// inheritance stands: no OWNER RIGHTS entry appears.
TEST_F(Win32CreatedSecurity, RunWithoutElevationLeavesItToInheritance) {
    if (!keeps_a_descriptor_given_at_creation(temp.path() / L"probe"))
        GTEST_SKIP() << "this system (Wine) does not keep a descriptor given at creation: a folder made with an "
                        "OWNER RIGHTS entry reads back without it";
    win32::Win32Platform platform(win32::LinkCheck::off);
    ASSERT_TRUE(platform.create_directories(at(L"Plain\\Logs")));
    const ReadBack back = read_back(testing::fs_path(at(L"Plain\\Logs")));
    ASSERT_TRUE(back.security.has_value());
    EXPECT_FALSE(lists_owner_rights(*back.security));
}

}  // namespace
}  // namespace velmarch::platform

#endif  // _WIN32
