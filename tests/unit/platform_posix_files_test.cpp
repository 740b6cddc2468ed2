#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/file_bytes.h"
#include "support/scratch_folder.h"
#include "support/test_paths.h"

namespace velmarch::platform {
namespace {

using testing::bytes_of;
using testing::read_text;

class PosixFiles : public ::testing::Test {
protected:
    std::unique_ptr<Platform> platform = make_native_platform(0, nullptr);
    testing::ScratchFolder temp;
    Path at(std::string_view name) const { return testing::to_path(temp.path() / name); }
};

TEST_F(PosixFiles, CreateNewFileWritesAPrivateFileThatReadsBack) {
    auto file = platform->create_new_file(at("staged.msi"));
    ASSERT_TRUE(file) << file.error().text;
    auto written = (*file)->write(bytes_of("package"));
    ASSERT_TRUE(written) << written.error().text;
    EXPECT_EQ(*written, 7u);
    ASSERT_TRUE((*file)->flush());
    file->reset();

    struct stat status {};
    ASSERT_EQ(::stat(at("staged.msi").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    auto reader = platform->open_for_reading(at("staged.msi"));
    ASSERT_TRUE(reader) << reader.error().text;
    std::vector<std::byte> buffer(16);
    auto got = (*reader)->read(buffer);
    ASSERT_TRUE(got) << got.error().text;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), *got), "package");
    got = (*reader)->read(buffer);
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, 0u);
}

TEST_F(PosixFiles, CreateNewFileRefusesAnExistingFileAndLeavesItAlone) {
    ASSERT_TRUE(platform->write_file(at("taken"), bytes_of("old")));
    auto file = platform->create_new_file(at("taken"));
    ASSERT_FALSE(file);
    EXPECT_EQ(file.error().text, "File exists (os error 17)");
    EXPECT_EQ(read_text(at("taken")), "old");
}

TEST_F(PosixFiles, CreateNewFileRefusesALinkEvenOneThatPointsNowhere) {
    ASSERT_EQ(::symlink(at("target").c_str(), at("link").c_str()), 0);
    auto file = platform->create_new_file(at("link"));
    ASSERT_FALSE(file);
    EXPECT_EQ(file.error().text, "File exists (os error 17)");
    EXPECT_FALSE(platform->exists(at("target")));
}

TEST_F(PosixFiles, OpenForReadingReportsTheSystemError) {
    auto missing = platform->open_for_reading(at("absent"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().text, "No such file or directory (os error 2)");
    auto directory = platform->open_for_reading(testing::to_path(temp.path()));
    ASSERT_FALSE(directory);
    EXPECT_EQ(directory.error().text, "Is a directory (os error 21)");
}

TEST_F(PosixFiles, WriteFileTruncatesAndAppendCreatesThenExtends) {
    ASSERT_TRUE(platform->write_file(at("log"), bytes_of("a long first line\n")));
    ASSERT_TRUE(platform->write_file(at("log"), bytes_of("short\n")));
    EXPECT_EQ(read_text(at("log")), "short\n");
    ASSERT_TRUE(platform->append_to_file(at("log"), bytes_of("more\n")));
    ASSERT_TRUE(platform->append_to_file(at("new"), bytes_of("x")));
    EXPECT_EQ(read_text(at("log")), "short\nmore\n");
    EXPECT_EQ(read_text(at("new")), "x");
    auto into_missing_directory = platform->write_file(at("no/log"), bytes_of("x"));
    ASSERT_FALSE(into_missing_directory);
    EXPECT_EQ(into_missing_directory.error().text, "No such file or directory (os error 2)");
}

TEST_F(PosixFiles, DeleteFileRemovesOnlyThatFile) {
    ASSERT_TRUE(platform->write_file(at("a"), bytes_of("")));
    ASSERT_TRUE(platform->delete_file(at("a")));
    EXPECT_FALSE(platform->exists(at("a")));
    auto again = platform->delete_file(at("a"));
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().text, "No such file or directory (os error 2)");
}

TEST_F(PosixFiles, CreateDirectoriesBuildsTheChainAndStopsAtAFile) {
    ASSERT_TRUE(platform->create_directories(at("x/y/z")));
    EXPECT_EQ(platform->file_type(at("x/y/z")), FileType::directory);
    EXPECT_TRUE(platform->create_directories(at("x/y")));

    ASSERT_TRUE(platform->write_file(at("plain"), bytes_of("")));
    auto through_file = platform->create_directories(at("plain/sub"));
    ASSERT_FALSE(through_file);
    EXPECT_EQ(through_file.error().text, "Not a directory (os error 20)");
    auto is_file = platform->create_directories(at("plain"));
    EXPECT_FALSE(is_file);
}

TEST_F(PosixFiles, StagingDirectoryIsOwnerOnlyAndAnExistingNameIsReported) {
    auto security = platform->create_security_descriptor("O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
    ASSERT_TRUE(security) << security.error().text;

    auto created = platform->create_directory(at("VelmarchUpdate-1-00"), **security);
    ASSERT_TRUE(created) << created.error().text;
    EXPECT_EQ(*created, DirectoryCreation::created);
    struct stat status {};
    ASSERT_EQ(::stat(at("VelmarchUpdate-1-00").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);

    auto again = platform->create_directory(at("VelmarchUpdate-1-00"), **security);
    ASSERT_TRUE(again) << again.error().text;
    EXPECT_EQ(*again, DirectoryCreation::already_exists);

    ASSERT_TRUE(platform->write_file(at("a-file"), bytes_of("")));
    auto file_in_the_way = platform->create_directory(at("a-file"), **security);
    ASSERT_TRUE(file_in_the_way);
    EXPECT_EQ(*file_in_the_way, DirectoryCreation::already_exists);

    auto no_parent = platform->create_directory(at("missing/VelmarchUpdate-1-00"), **security);
    ASSERT_FALSE(no_parent);
    EXPECT_EQ(no_parent.error().text, "No such file or directory (os error 2)");
}

}  // namespace
}  // namespace velmarch::platform
