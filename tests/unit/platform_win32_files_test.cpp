#ifdef _WIN32

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/platform.h"
#include "platform_win32_support.h"
#include "support/file_bytes.h"
#include "support/scratch_folder.h"

namespace velmarch::platform {
namespace {

using testing::bytes_of;
using testing::read_text;

void write_text(const Path& path, std::string_view text) {
    std::ofstream(testing::fs_path(path), std::ios::binary) << text;
}

bool ends_with_os_error(const std::string& text, int code) {
    return text.ends_with(" (os error " + std::to_string(code) + ")");
}

class Win32Files : public ::testing::Test {
protected:
    std::unique_ptr<Platform> platform = make_native_platform(0, nullptr);
    testing::ScratchFolder temp;
    Path at(const wchar_t* name) const { return testing::to_path(temp.path() / name); }
};

TEST_F(Win32Files, CreateNewFileRefusesAnExistingNameAndLeavesItAlone) {
    write_text(at(L"velmarch-update.msi"), "planted");
    auto file = platform->create_new_file(at(L"velmarch-update.msi"));
    ASSERT_FALSE(file);
    EXPECT_TRUE(ends_with_os_error(file.error().text, ERROR_FILE_EXISTS)) << file.error().text;
    EXPECT_EQ(read_text(at(L"velmarch-update.msi")), "planted");
}

TEST_F(Win32Files, OpenForReadingAMissingFileGivesTheSystemText) {
    auto file = platform->open_for_reading(at(L"missing.msi"));
    ASSERT_FALSE(file);
    EXPECT_TRUE(ends_with_os_error(file.error().text, ERROR_FILE_NOT_FOUND)) << file.error().text;
}

TEST_F(Win32Files, WritesIntoAMissingDirectoryFailWithTheSystemText) {
    auto written = platform->write_file(at(L"missing\\result.json"), bytes_of("{}"));
    ASSERT_FALSE(written);
    EXPECT_TRUE(ends_with_os_error(written.error().text, ERROR_PATH_NOT_FOUND)) << written.error().text;
    EXPECT_FALSE(platform->append_to_file(at(L"missing\\helper.log"), bytes_of("x")));
}

TEST_F(Win32Files, DeleteFileOfAMissingFileFails) {
    auto deleted = platform->delete_file(at(L"missing.msi"));
    ASSERT_FALSE(deleted);
    EXPECT_TRUE(ends_with_os_error(deleted.error().text, ERROR_FILE_NOT_FOUND)) << deleted.error().text;
}

// A scanner's open without delete sharing: the deletion says the file is
// held, so that it is tried again; a missing file is no hold.
TEST_F(Win32Files, DeletingAFileAnotherProgramHoldsSaysItIsHeld) {
    write_text(at(L"velmarch-update.msi"), "package");
    HANDLE scanner = ::CreateFileW(at(L"velmarch-update.msi").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
    auto deleted = platform->delete_file(at(L"velmarch-update.msi"));
    auto tree = platform->remove_directory_tree(testing::to_path(temp.path()));
    ::CloseHandle(scanner);
    ASSERT_FALSE(deleted);
    EXPECT_TRUE(deleted.error().kind == ErrorKind::held) << deleted.error().text;
    EXPECT_TRUE(ends_with_os_error(deleted.error().text, ERROR_SHARING_VIOLATION)) << deleted.error().text;
    ASSERT_FALSE(tree);
    EXPECT_TRUE(tree.error().kind == ErrorKind::held) << tree.error().text;
    ASSERT_TRUE(platform->delete_file(at(L"velmarch-update.msi")));
    auto missing = platform->delete_file(at(L"velmarch-update.msi"));
    ASSERT_FALSE(missing);
    EXPECT_FALSE(missing.error().kind == ErrorKind::held);
}

// The hold a run keeps on its staged package: others may read it (Windows
// Installer does), nobody may write, rename or delete it.
TEST_F(Win32Files, AHeldFileIsReadableButNotWritableRenamableOrDeletable) {
    write_text(at(L"velmarch-update.msi"), "package");
    auto hold = platform->hold_file(at(L"velmarch-update.msi"));
    ASSERT_TRUE(hold) << hold.error().text;
    EXPECT_EQ(read_text(at(L"velmarch-update.msi")), "package");
    HANDLE writer =
        ::CreateFileW(at(L"velmarch-update.msi").c_str(), GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
    EXPECT_FALSE(::MoveFileW(at(L"velmarch-update.msi").c_str(), at(L"moved.msi").c_str()));
    EXPECT_FALSE(::DeleteFileW(at(L"velmarch-update.msi").c_str()));
    hold->reset();
    EXPECT_TRUE(::DeleteFileW(at(L"velmarch-update.msi").c_str()));
    // A directory is no file to hold.
    EXPECT_FALSE(platform->hold_file(testing::to_path(temp.path())));
}

TEST_F(Win32Files, CreateDirectoriesMakesEveryLevelAndAcceptsExistingOnes) {
    const Path deep = at(L"a\\b\\c");
    ASSERT_TRUE(platform->create_directories(deep));
    EXPECT_EQ(platform->file_type(deep), FileType::directory);
    EXPECT_TRUE(platform->create_directories(deep));
    EXPECT_TRUE(platform->create_directories(at(L"a\\b\\c\\")));
    EXPECT_TRUE(platform->create_directories(testing::to_path(temp.path().root_path())));
}

}  // namespace
}  // namespace velmarch::platform

#endif  // _WIN32
