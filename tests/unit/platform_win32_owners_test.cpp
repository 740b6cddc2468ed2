#ifdef _WIN32

#include <gtest/gtest.h>

#include "platform/win32/owners.h"
#include "platform/win32/windows_api.h"

namespace velmarch::platform {
namespace {

using win32::UniqueHandle;

HANDLE new_event() { return ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }

// Makes a call fail with ERROR_PATH_NOT_FOUND.
void fail_to_open_a_missing_file() {
    const UniqueHandle missing(
        ::CreateFileW(L"C:\\velmarch-missing\\none.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_FALSE(missing.valid());
}

TEST(Win32HandleOwner, ClosesItsHandle) {
    UniqueHandle owner(new_event());
    ASSERT_TRUE(owner.valid());
    const HANDLE raw = owner.get();
    DWORD flags = 0;
    ASSERT_TRUE(::GetHandleInformation(raw, &flags));
    owner.reset();
    EXPECT_FALSE(::GetHandleInformation(raw, &flags));
}

// Once with a close that succeeds, once with one that fails and sets an error
// of its own: the handle is closed behind its owner's back.
TEST(Win32HandleOwner, ResetKeepsTheLastErrorOfTheFailedCall) {
    for (const bool close_fails : {false, true}) {
        UniqueHandle owner(new_event());
        ASSERT_TRUE(owner.valid());
        if (close_fails) ::CloseHandle(owner.get());
        fail_to_open_a_missing_file();
        ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
        owner.reset();
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND)) << close_fails;
    }
}

TEST(Win32HandleOwner, DestructionKeepsTheLastErrorOfTheFailedCall) {
    {
        const UniqueHandle owner(new_event());
        ASSERT_TRUE(owner.valid());
        ::CloseHandle(owner.get());  // the owner's own close fails
        fail_to_open_a_missing_file();
    }
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

}  // namespace
}  // namespace velmarch::platform

#endif  // _WIN32
