#ifdef _WIN32

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/platform.h"
#include "platform_win32_support.h"
#include "support/file_bytes.h"

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
    testing::Win32TempDirectory temp;
    Path at(const wchar_t* name) const { return testing::to_path(temp.path() / name); }
};

TEST_F(Win32Files, CreateNewFileRefusesAnExistingNameAndLeavesItAlone) {
    write_text(at(L"velmarch-update.msi"), "planted");
    auto file = platform->create_new_file(at(L"velmarch-update.msi"));
    ASSERT_FALSE(file);
    EXPECT_TRUE(ends_with_os_error(file.error(), ERROR_FILE_EXISTS)) << file.error();
    EXPECT_EQ(read_text(at(L"velmarch-update.msi")), "planted");
}

TEST_F(Win32Files, OpenForReadingAMissingFileGivesTheSystemText) {
    auto file = platform->open_for_reading(at(L"missing.msi"));
    ASSERT_FALSE(file);
    EXPECT_TRUE(ends_with_os_error(file.error(), ERROR_FILE_NOT_FOUND)) << file.error();
}

TEST_F(Win32Files, WritesIntoAMissingDirectoryFailWithTheSystemText) {
    auto written = platform->write_file(at(L"missing\\result.json"), bytes_of("{}"));
    ASSERT_FALSE(written);
    EXPECT_TRUE(ends_with_os_error(written.error(), ERROR_PATH_NOT_FOUND)) << written.error();
    EXPECT_FALSE(platform->append_to_file(at(L"missing\\helper.log"), bytes_of("x")));
}

TEST_F(Win32Files, DeleteFileOfAMissingFileFails) {
    auto deleted = platform->delete_file(at(L"missing.msi"));
    ASSERT_FALSE(deleted);
    EXPECT_TRUE(ends_with_os_error(deleted.error().message, ERROR_FILE_NOT_FOUND)) << deleted.error().message;
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
