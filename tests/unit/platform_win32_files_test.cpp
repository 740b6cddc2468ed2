#ifdef _WIN32

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/platform.h"
#include "platform_win32_support.h"

namespace velmarch::platform {
namespace {

std::span<const std::byte> bytes_of(std::string_view text) { return std::as_bytes(std::span(text)); }

std::string read_text(const Path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_text(const Path& path, std::string_view text) {
    std::ofstream(path, std::ios::binary) << text;
}

bool ends_with_os_error(const std::string& text, int code) {
    return text.ends_with(" (os error " + std::to_string(code) + ")");
}

class Win32Files : public ::testing::Test {
protected:
    std::unique_ptr<Platform> platform = make_native_platform(0, nullptr);
    testing::Win32TempDirectory temp;
    Path at(const wchar_t* name) const { return temp.path() / name; }
};

TEST_F(Win32Files, FileTypeTellsFilesDirectoriesAndMissingPathsApart) {
    write_text(at(L"update.msi"), "x");
    std::filesystem::create_directory(at(L"folder.msi"));
    EXPECT_EQ(platform->file_type(at(L"update.msi")), FileType::file);
    EXPECT_EQ(platform->file_type(at(L"folder.msi")), FileType::directory);
    EXPECT_EQ(platform->file_type(at(L"missing.msi")), FileType::missing);
    EXPECT_EQ(platform->file_type(at(L"missing\\below.msi")), FileType::missing);
    EXPECT_TRUE(platform->exists(at(L"folder.msi")));
    EXPECT_FALSE(platform->exists(at(L"missing.msi")));
}

TEST_F(Win32Files, CreateNewFileRefusesAnExistingNameAndLeavesItAlone) {
    write_text(at(L"velmarch-update.msi"), "planted");
    auto file = platform->create_new_file(at(L"velmarch-update.msi"));
    ASSERT_FALSE(file);
    EXPECT_TRUE(ends_with_os_error(file.error(), ERROR_FILE_EXISTS)) << file.error();
    EXPECT_EQ(read_text(at(L"velmarch-update.msi")), "planted");
}

TEST_F(Win32Files, CreatedFileIsWrittenFlushedAndReadBackInPieces) {
    {
        auto file = platform->create_new_file(at(L"copy.msi"));
        ASSERT_TRUE(file) << file.error();
        // A file created for writing only cannot be read through.
        std::byte probe[1];
        EXPECT_FALSE((*file)->read(probe));
        auto written = (*file)->write(bytes_of("package bytes"));
        ASSERT_TRUE(written) << written.error();
        EXPECT_EQ(*written, 13u);
        EXPECT_TRUE((*file)->flush());
    }
    auto file = platform->open_for_reading(at(L"copy.msi"));
    ASSERT_TRUE(file) << file.error();
    std::byte buffer[8];
    std::string content;
    for (;;) {
        auto got = (*file)->read(buffer);
        ASSERT_TRUE(got) << got.error();
        if (*got == 0) break;
        content.append(reinterpret_cast<const char*>(buffer), *got);
    }
    EXPECT_EQ(content, "package bytes");
}

TEST_F(Win32Files, OpenForReadingSharesWithWritersAndDeleters) {
    write_text(at(L"shared.msi"), "abc");
    auto file = platform->open_for_reading(at(L"shared.msi"));
    ASSERT_TRUE(file) << file.error();
    EXPECT_TRUE(platform->write_file(at(L"shared.msi"), bytes_of("xyz")));
    EXPECT_TRUE(platform->delete_file(at(L"shared.msi")));
}

TEST_F(Win32Files, OpenForReadingAMissingFileGivesTheSystemText) {
    auto file = platform->open_for_reading(at(L"missing.msi"));
    ASSERT_FALSE(file);
    EXPECT_TRUE(ends_with_os_error(file.error(), ERROR_FILE_NOT_FOUND)) << file.error();
}

TEST_F(Win32Files, WriteFileCreatesThenTruncates) {
    ASSERT_TRUE(platform->write_file(at(L"result.json"), bytes_of("a longer first text")));
    ASSERT_TRUE(platform->write_file(at(L"result.json"), bytes_of("{}")));
    EXPECT_EQ(read_text(at(L"result.json")), "{}");
}

TEST_F(Win32Files, AppendCreatesThenAppendsWhileAnotherReaderHoldsTheFile) {
    ASSERT_TRUE(platform->append_to_file(at(L"helper.log"), bytes_of("one\n")));
    auto reader = platform->open_for_reading(at(L"helper.log"));
    ASSERT_TRUE(reader) << reader.error();
    ASSERT_TRUE(platform->append_to_file(at(L"helper.log"), bytes_of("two\n")));
    EXPECT_EQ(read_text(at(L"helper.log")), "one\ntwo\n");
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
    EXPECT_TRUE(ends_with_os_error(deleted.error(), ERROR_FILE_NOT_FOUND)) << deleted.error();
}

TEST_F(Win32Files, CreateDirectoriesMakesEveryLevelAndAcceptsExistingOnes) {
    const Path deep = at(L"a\\b\\c");
    ASSERT_TRUE(platform->create_directories(deep));
    EXPECT_EQ(platform->file_type(deep), FileType::directory);
    EXPECT_TRUE(platform->create_directories(deep));
    EXPECT_TRUE(platform->create_directories(at(L"a\\b\\c\\")));
    EXPECT_TRUE(platform->create_directories(temp.path().root_path()));
}

TEST_F(Win32Files, CreateDirectoriesFailsWhereAFileStandsInTheWay) {
    write_text(at(L"file"), "x");
    auto created = platform->create_directories(at(L"file\\below"));
    ASSERT_FALSE(created);
    EXPECT_TRUE(created.error().find(" (os error ") != std::string::npos) << created.error();
    EXPECT_FALSE(platform->create_directories(at(L"file")));
}

TEST_F(Win32Files, RemoveDirectoryTreeRemovesNestedContent) {
    ASSERT_TRUE(platform->create_directories(at(L"stage\\inner\\deeper")));
    write_text(at(L"stage\\velmarch-update.msi"), "x");
    write_text(at(L"stage\\inner\\deeper\\file"), "y");
    ASSERT_TRUE(platform->remove_directory_tree(at(L"stage")));
    EXPECT_FALSE(platform->exists(at(L"stage")));
    EXPECT_FALSE(platform->remove_directory_tree(at(L"stage")));
}

TEST_F(Win32Files, RemoveDirectoryTreeRemovesLinksWithoutFollowingThem) {
    ASSERT_TRUE(platform->create_directories(at(L"outside")));
    write_text(at(L"outside\\keep.txt"), "keep");
    ASSERT_TRUE(platform->create_directories(at(L"stage")));
    if (!::CreateSymbolicLinkW(at(L"stage\\link").c_str(), at(L"outside").c_str(),
                               SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
        GTEST_SKIP() << "directory links cannot be made here (error " << ::GetLastError() << ")";
    }
    // Wine 8 reports success without making the link.
    if (!platform->exists(at(L"stage\\link"))) GTEST_SKIP() << "the system made no link";
    ASSERT_EQ(platform->file_type(at(L"stage\\link")), FileType::directory);
    ASSERT_TRUE(platform->remove_directory_tree(at(L"stage")));
    EXPECT_FALSE(platform->exists(at(L"stage")));
    EXPECT_EQ(read_text(at(L"outside\\keep.txt")), "keep");
}

}  // namespace
}  // namespace velmarch::platform

#endif  // _WIN32
