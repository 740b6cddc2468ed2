// What the platform seam promises, checked over the native implementation
// and over the fake the other unit tests run on, so that the fake behaves
// like the real thing wherever the updater can tell the difference.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/path/path.h"
#include "platform/platform.h"
#include "platform_contract_subjects.h"
#include "support/file_bytes.h"

namespace velmarch::platform {
namespace {

using testing::bytes_of;
using testing::test_path;

bool is_os_error(const std::string& text) { return text.find(" (os error ") != std::string::npos; }

template <class Subject>
class PlatformContract : public ::testing::Test {
protected:
    Subject subject;
    Platform& platform = subject.platform();

    // A path below the subject's scratch directory, written with '/'.
    Path at(std::string_view slashed) const { return subject.root() / test_path(slashed); }

    // The whole file, read through the platform in small pieces.
    std::string read_all(std::string_view slashed) {
        auto file = platform.open_for_reading(at(slashed));
        if (!file) return "<" + file.error().text + ">";
        std::string content;
        std::byte buffer[3];
        for (;;) {
            auto got = (*file)->read(buffer);
            if (!got) return content + "<" + got.error().text + ">";
            if (*got == 0) return content;
            content.append(reinterpret_cast<const char*>(buffer), *got);
        }
    }

    void write(std::string_view slashed, std::string_view text) {
        auto written = this->platform.write_file(at(slashed), bytes_of(text));
        ASSERT_TRUE(written) << written.error().text;
    }

    void make_directories(std::string_view slashed) {
        auto created = platform.create_directories(at(slashed));
        ASSERT_TRUE(created) << created.error().text;
    }

    // The folder `name` of the scratch directory, held as the sweep holds a
    // candidate; null (and the test failed) when it cannot be.
    std::unique_ptr<HeldDirectory> hold_directory(std::string_view name) {
        auto root = platform.open_held_directory(subject.root());
        EXPECT_TRUE(root) << root.error().text;
        if (!root) return nullptr;
        auto opened = (*root)->open_directory(name);
        EXPECT_TRUE(opened) << opened.error().text;
        return opened ? std::move(*opened) : nullptr;
    }
};

// CTest names each case after its subject: "…<velmarch::testing::contract::Fake>".
using Subjects = ::testing::Types<testing::contract::Fake, testing::contract::Native>;
TYPED_TEST_SUITE(PlatformContract, Subjects);

// --- files ----------------------------------------------------------------

TYPED_TEST(PlatformContract, FileTypeTellsMissingFilesAndDirectoriesApart) {
    this->write("file", "x");
    this->make_directories("folder");
    EXPECT_EQ(this->platform.file_type(this->at("file")), FileType::file);
    EXPECT_EQ(this->platform.file_type(this->at("folder")), FileType::directory);
    EXPECT_EQ(this->platform.file_type(this->at("absent")), FileType::missing);
    EXPECT_EQ(this->platform.file_type(this->at("absent/below")), FileType::missing);
    EXPECT_EQ(this->platform.file_type(this->at("file/below")), FileType::missing);
    EXPECT_TRUE(this->platform.exists(this->at("file")));
    EXPECT_TRUE(this->platform.exists(this->at("folder")));
    EXPECT_FALSE(this->platform.exists(this->at("absent")));
}

TYPED_TEST(PlatformContract, FileTypeFollowsLinksAndExistsSeesADanglingOne) {
    this->make_directories("folder");
    if (!this->subject.make_link(this->at("folder-link"), this->at("folder"), true) ||
        !this->subject.make_link(this->at("dangling"), this->at("gone"), false)) {
        GTEST_SKIP() << "no link can be made here";
    }
    EXPECT_EQ(this->platform.file_type(this->at("folder-link")), FileType::directory);
    EXPECT_EQ(this->platform.file_type(this->at("dangling")), FileType::missing);
    EXPECT_TRUE(this->platform.exists(this->at("dangling")));
    EXPECT_FALSE(this->platform.exists(this->at("gone")));
}

TYPED_TEST(PlatformContract, CreatedFileIsWriteOnlyAndReadsBackOnceClosed) {
    {
        auto file = this->platform.create_new_file(this->at("staged.msi"));
        ASSERT_TRUE(file) << file.error().text;
        std::byte probe[1];
        EXPECT_FALSE((*file)->read(probe));
        auto written = (*file)->write(bytes_of("package bytes"));
        ASSERT_TRUE(written) << written.error().text;
        EXPECT_EQ(*written, 13u);
        EXPECT_TRUE((*file)->flush());
    }
    EXPECT_EQ(this->read_all("staged.msi"), "package bytes");

    auto reader = this->platform.open_for_reading(this->at("staged.msi"));
    ASSERT_TRUE(reader) << reader.error().text;
    auto written = (*reader)->write(bytes_of("x"));
    EXPECT_FALSE(written);
}

TYPED_TEST(PlatformContract, CreateNewFileRefusesAnExistingNameAndLeavesItAlone) {
    this->write("taken", "planted");
    this->make_directories("folder");
    for (const char* name : {"taken", "folder"}) {
        auto file = this->platform.create_new_file(this->at(name));
        ASSERT_FALSE(file) << name;
        EXPECT_TRUE(is_os_error(file.error().text)) << file.error().text;
    }
    EXPECT_EQ(this->read_all("taken"), "planted");
    EXPECT_EQ(this->platform.file_type(this->at("folder")), FileType::directory);
}

TYPED_TEST(PlatformContract, CreateNewFileRefusesALinkEvenOneThatPointsNowhere) {
    if (!this->subject.make_link(this->at("link"), this->at("target"), false)) {
        GTEST_SKIP() << "no link can be made here";
    }
    auto file = this->platform.create_new_file(this->at("link"));
    ASSERT_FALSE(file);
    EXPECT_TRUE(is_os_error(file.error().text)) << file.error().text;
    EXPECT_FALSE(this->platform.exists(this->at("target")));
}

TYPED_TEST(PlatformContract, OpenForReadingRefusesWhatIsNoFile) {
    this->make_directories("folder");
    for (const char* name : {"absent", "folder"}) {
        auto file = this->platform.open_for_reading(this->at(name));
        ASSERT_FALSE(file) << name;
        EXPECT_TRUE(is_os_error(file.error().text)) << file.error().text;
    }
}

TYPED_TEST(PlatformContract, OpenForReadingSharesForReadingWritingAndDeletion) {
    this->write("shared.log", "abc");
    auto reader = this->platform.open_for_reading(this->at("shared.log"));
    ASSERT_TRUE(reader) << reader.error().text;
    EXPECT_EQ(this->read_all("shared.log"), "abc");
    auto rewritten = this->platform.write_file(this->at("shared.log"), bytes_of("xyz"));
    EXPECT_TRUE(rewritten) << rewritten.error().text;
    auto appended = this->platform.append_to_file(this->at("shared.log"), bytes_of("!"));
    EXPECT_TRUE(appended) << appended.error().text;
    EXPECT_EQ(this->read_all("shared.log"), "xyz!");
    auto deleted = this->platform.delete_file(this->at("shared.log"));
    EXPECT_TRUE(deleted) << deleted.error().text;
}

// A FIFO or pipe nobody serves would hold a blocking open, read or write for
// ever: every operation that opens a caller-named file refuses it at once.
TYPED_TEST(PlatformContract, NothingOpensOrWaitsForAFifoOrPipe) {
    const Path special = this->subject.make_special_file();
    Platform& opener = this->subject.special_file_platform();
    const std::string refused(kNotARegularFile);
    auto read = opener.open_for_reading(special);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().text, refused);
    EXPECT_EQ(read.error().kind, ErrorKind::not_a_regular_file);
    auto written = opener.write_file(special, bytes_of("{}"));
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().text, refused);
    EXPECT_EQ(written.error().kind, ErrorKind::not_a_regular_file);
    auto appended = opener.append_to_file(special, bytes_of("line\n"));
    ASSERT_FALSE(appended);
    EXPECT_EQ(appended.error().text, refused);
    EXPECT_EQ(appended.error().kind, ErrorKind::not_a_regular_file);
}

TYPED_TEST(PlatformContract, WriteFileCreatesThenTruncates) {
    this->write("result.json", "a longer first text");
    this->write("result.json", "{}");
    EXPECT_EQ(this->read_all("result.json"), "{}");
}

TYPED_TEST(PlatformContract, AppendToFileCreatesThenAppends) {
    ASSERT_TRUE(this->platform.append_to_file(this->at("helper.log"), bytes_of("one\n")));
    ASSERT_TRUE(this->platform.append_to_file(this->at("helper.log"), bytes_of("two\n")));
    EXPECT_EQ(this->read_all("helper.log"), "one\ntwo\n");
}

TYPED_TEST(PlatformContract, WritesFailIntoAMissingDirectoryAndOntoADirectory) {
    this->make_directories("folder");
    for (const char* name : {"absent/result.json", "folder"}) {
        auto written = this->platform.write_file(this->at(name), bytes_of("{}"));
        ASSERT_FALSE(written) << name;
        EXPECT_TRUE(is_os_error(written.error().text)) << written.error().text;
        auto appended = this->platform.append_to_file(this->at(name), bytes_of("x"));
        ASSERT_FALSE(appended) << name;
        EXPECT_TRUE(is_os_error(appended.error().text)) << appended.error().text;
    }
    auto created = this->platform.create_new_file(this->at("absent/staged.msi"));
    ASSERT_FALSE(created);
    EXPECT_TRUE(is_os_error(created.error().text)) << created.error().text;
    EXPECT_EQ(this->platform.file_type(this->at("absent")), FileType::missing);
}

TYPED_TEST(PlatformContract, DeleteFileRemovesOnlyThatFile) {
    this->write("a", "");
    this->write("b", "");
    ASSERT_TRUE(this->platform.delete_file(this->at("a")));
    EXPECT_FALSE(this->platform.exists(this->at("a")));
    EXPECT_TRUE(this->platform.exists(this->at("b")));
    auto again = this->platform.delete_file(this->at("a"));
    ASSERT_FALSE(again);
    EXPECT_TRUE(is_os_error(again.error().text)) << again.error().text;
}

TYPED_TEST(PlatformContract, CreateDirectoriesBuildsTheChainAndStopsAtAFile) {
    this->make_directories("x/y/z");
    EXPECT_EQ(this->platform.file_type(this->at("x/y/z")), FileType::directory);
    this->make_directories("x/y");

    this->write("plain", "");
    auto through_file = this->platform.create_directories(this->at("plain/sub"));
    ASSERT_FALSE(through_file);
    EXPECT_TRUE(is_os_error(through_file.error().text)) << through_file.error().text;
    EXPECT_FALSE(this->platform.create_directories(this->at("plain")));
    EXPECT_EQ(this->platform.file_type(this->at("plain")), FileType::file);
}

TYPED_TEST(PlatformContract, RemoveDirectoryTreeRemovesALoneFile) {
    this->write("lone", "x");
    ASSERT_TRUE(this->platform.remove_directory_tree(this->at("lone")));
    EXPECT_FALSE(this->platform.exists(this->at("lone")));
}

TYPED_TEST(PlatformContract, RemoveDirectoryTreeRemovesNestedContent) {
    this->make_directories("stage/inner/deeper");
    this->write("stage/velmarch-update.msi", "x");
    this->write("stage/inner/deeper/file", "y");
    auto removed = this->platform.remove_directory_tree(this->at("stage"));
    ASSERT_TRUE(removed) << removed.error().text;
    EXPECT_FALSE(this->platform.exists(this->at("stage")));
    auto again = this->platform.remove_directory_tree(this->at("stage"));
    ASSERT_FALSE(again);
    EXPECT_TRUE(is_os_error(again.error().text)) << again.error().text;
}

TYPED_TEST(PlatformContract, RemoveDirectoryTreeRemovesLinksAndLeavesTheirTargets) {
    this->make_directories("outside");
    this->write("outside/keep", "keep");
    this->make_directories("stage/sub");
    this->write("stage/sub/file", "");
    if (!this->subject.make_link(this->at("stage/sub/folder-link"), this->at("outside"), true) ||
        !this->subject.make_link(this->at("stage/file-link"), this->at("outside/keep"), false)) {
        GTEST_SKIP() << "no link can be made here";
    }
    ASSERT_TRUE(this->platform.remove_directory_tree(this->at("stage")));
    EXPECT_FALSE(this->platform.exists(this->at("stage")));
    EXPECT_EQ(this->platform.file_type(this->at("outside")), FileType::directory);
    EXPECT_EQ(this->read_all("outside/keep"), "keep");

    // Named itself, a link to a directory goes and its target stays whole.
    ASSERT_TRUE(this->subject.make_link(this->at("top-link"), this->at("outside"), true));
    ASSERT_TRUE(this->platform.remove_directory_tree(this->at("top-link")));
    EXPECT_FALSE(this->platform.exists(this->at("top-link")));
    EXPECT_EQ(this->read_all("outside/keep"), "keep");
}

TYPED_TEST(PlatformContract, CreateDirectoryReportsAnyExistingName) {
    auto security = this->platform.create_security_descriptor("O:BAG:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
    ASSERT_TRUE(security) << security.error().text;

    auto created = this->platform.create_directory(this->at("VelmarchUpdate-1-00"), **security);
    ASSERT_TRUE(created) << created.error().text;
    EXPECT_EQ(*created, DirectoryCreation::created);
    EXPECT_EQ(this->platform.file_type(this->at("VelmarchUpdate-1-00")), FileType::directory);

    auto again = this->platform.create_directory(this->at("VelmarchUpdate-1-00"), **security);
    ASSERT_TRUE(again) << again.error().text;
    EXPECT_EQ(*again, DirectoryCreation::already_exists);

    this->write("a-file", "");
    auto file_in_the_way = this->platform.create_directory(this->at("a-file"), **security);
    ASSERT_TRUE(file_in_the_way) << file_in_the_way.error().text;
    EXPECT_EQ(*file_in_the_way, DirectoryCreation::already_exists);

    auto no_parent = this->platform.create_directory(this->at("absent/VelmarchUpdate-1-00"), **security);
    ASSERT_FALSE(no_parent);
    EXPECT_TRUE(is_os_error(no_parent.error().text)) << no_parent.error().text;
}

// --- processes --------------------------------------------------------------

TYPED_TEST(PlatformContract, WaitTimesOutWhileTheProcessRunsAndSeesItEnd) {
    const std::uint32_t id = this->subject.start_live_process();
    ASSERT_NE(id, 0u);
    std::unique_ptr<WaitableProcess> process = this->platform.open_process_for_wait(id);
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(process->wait(0), WaitOutcome::timed_out);
    EXPECT_EQ(process->wait(50), WaitOutcome::timed_out);

    this->subject.end_process(id);
    EXPECT_EQ(process->wait(60000), WaitOutcome::exited);
    EXPECT_EQ(process->wait(0), WaitOutcome::exited);
}

// What the updater relies on when the process it waits for is gone: either
// nothing to wait for, or a wait that sees the end at once. (Windows may keep
// an ended process openable for a while; a reaped POSIX child cannot be.)
TYPED_TEST(PlatformContract, AFinishedProcessCountsAsEnded) {
    const std::uint32_t id = this->subject.finished_process();
    ASSERT_NE(id, 0u);
    if (std::unique_ptr<WaitableProcess> process = this->platform.open_process_for_wait(id)) {
        EXPECT_EQ(process->wait(0), WaitOutcome::exited);
    }
    EXPECT_EQ(this->platform.open_process_for_wait(0), nullptr);
}

TYPED_TEST(PlatformContract, RunAndWaitReturnsTheExitCode) {
    std::vector<std::int32_t> codes = {0, 1, 3, 255};
    if (TypeParam::kKeepsFullExitCode) codes.insert(codes.end(), {1603, 3010, -1073741819, 2147483647});
    for (const std::int32_t code : codes) {
        auto exit_code = this->platform.run_and_wait(this->subject.exiting_with(code));
        ASSERT_TRUE(exit_code) << code << ": " << exit_code.error().text;
        EXPECT_EQ(*exit_code, code);
    }
}

TYPED_TEST(PlatformContract, LaunchFailsForAMissingProgramOrWorkingDirectory) {
    const LaunchRequest missing = this->subject.missing_program();
    LaunchRequest misplaced = this->subject.exiting_with(0);
    misplaced.working_directory = this->at("absent");
    for (const LaunchRequest& launch : {missing, misplaced}) {
        auto ran = this->platform.run_and_wait(launch);
        ASSERT_FALSE(ran);
        EXPECT_TRUE(is_os_error(ran.error().text)) << ran.error().text;
        auto started = this->platform.start_detached(launch);
        ASSERT_FALSE(started);
        EXPECT_TRUE(is_os_error(started.error().text)) << started.error().text;
    }
}

}  // namespace
}  // namespace velmarch::platform

namespace velmarch::platform {
namespace {

// --- the sweep's held directories and taken files ------------------------------

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

TYPED_TEST(PlatformContract, AHeldDirectoryListsTakesAndDeletesWhatItHolds) {
    this->make_directories("stage");
    this->write("stage/velmarch-update.msi", "package");
    this->write("stage/velmarch-installer.log", "log");
    {
        auto root = this->platform.open_held_directory(this->subject.root());
        ASSERT_TRUE(root) << root.error().text;
        auto stage = (*root)->open_directory("stage");
        ASSERT_TRUE(stage) << stage.error().text;
        auto facts = (*stage)->facts();
        ASSERT_TRUE(facts) << facts.error().text;
        EXPECT_EQ(facts->kind, HeldKind::directory);

        auto names = (*stage)->names("", 10);
        ASSERT_TRUE(names) << names.error().text;
        EXPECT_EQ(sorted(*names), (std::vector<std::string>{"velmarch-installer.log", "velmarch-update.msi"}));
        auto one = (*stage)->names("", 1);
        ASSERT_TRUE(one) << one.error().text;
        EXPECT_EQ(one->size(), 1u);
        auto logs = (*stage)->names("velmarch-i", 10);
        ASSERT_TRUE(logs) << logs.error().text;
        EXPECT_EQ(*logs, std::vector<std::string>{"velmarch-installer.log"});

        // Not empty: the directory stays.
        EXPECT_FALSE((*stage)->remove());
        for (const char* name : {"velmarch-update.msi", "velmarch-installer.log"}) {
            auto file = (*stage)->take_file(name);
            ASSERT_TRUE(file) << name << ": " << file.error().text;
            auto file_facts = (*file)->facts();
            ASSERT_TRUE(file_facts) << file_facts.error().text;
            EXPECT_EQ(file_facts->kind, HeldKind::regular_file);
            auto removed = (*file)->remove();
            EXPECT_TRUE(removed) << removed.error().text;
        }
        auto removed = (*stage)->remove();
        EXPECT_TRUE(removed) << removed.error().text;
    }
    EXPECT_FALSE(this->platform.exists(this->at("stage")));
}

TYPED_TEST(PlatformContract, TheSweepTakesNoFileARunHoldsAndNothingOfTheWrongKind) {
    this->make_directories("stage/inner");
    this->write("stage/velmarch-update.msi", "package");
    std::unique_ptr<HeldDirectory> stage;
    {
        // The run holds its package before a sweep looks at its staging: a
        // sweep holds a directory with delete access, and while it does, no
        // walk may hold that directory without delete sharing (Windows).
        auto hold = this->platform.hold_file(this->at("stage/velmarch-update.msi"));
        ASSERT_TRUE(hold) << hold.error().text;
        // Holding it lets others read it (the installer, the verification).
        EXPECT_EQ(this->read_all("stage/velmarch-update.msi"), "package");
        stage = this->hold_directory("stage");
        ASSERT_TRUE(stage);
        EXPECT_FALSE(stage->take_file("velmarch-update.msi"));
    }
    auto taken = stage->take_file("velmarch-update.msi");
    EXPECT_TRUE(taken) << taken.error().text;
    EXPECT_FALSE(stage->take_file("inner"));
    EXPECT_FALSE(stage->take_file("absent"));
    EXPECT_FALSE(stage->open_directory("velmarch-update.msi"));
    EXPECT_FALSE(stage->open_directory("absent"));
    EXPECT_FALSE(stage->open_directory(".."));
}

// A run's staged package is held from its creation, before its first byte,
// not only once it is copied: a sweep looking at the staging meanwhile takes
// nothing of it, and nobody else holds it, until the copy's file is closed.
TYPED_TEST(PlatformContract, ANewFileIsHeldFromItsCreationUntilClosed) {
    this->make_directories("stage");
    std::unique_ptr<HeldDirectory> stage;
    {
        auto file = this->platform.create_new_file(this->at("stage/velmarch-update.msi"));
        ASSERT_TRUE(file) << file.error().text;
        stage = this->hold_directory("stage");
        ASSERT_TRUE(stage);
        // Before the first byte and after it.
        EXPECT_FALSE(stage->take_file("velmarch-update.msi"));
        auto written = (*file)->write(bytes_of("pack"));
        ASSERT_TRUE(written) << written.error().text;
        EXPECT_FALSE(stage->take_file("velmarch-update.msi"));
        EXPECT_FALSE(this->platform.hold_file(this->at("stage/velmarch-update.msi")));
    }
    auto taken = stage->take_file("velmarch-update.msi");
    EXPECT_TRUE(taken) << taken.error().text;
}

TYPED_TEST(PlatformContract, ALinkIsNeverOpenedAsTheDirectoryItLeadsTo) {
    this->make_directories("target");
    this->write("target/velmarch-update.msi", "protected");
    if (!this->subject.make_link(this->at("link"), this->at("target"), true))
        GTEST_SKIP() << "no link can be made here";
    auto root = this->platform.open_held_directory(this->subject.root());
    ASSERT_TRUE(root) << root.error().text;
    auto link = (*root)->open_directory("link");
    if (link) {
        auto facts = (*link)->facts();
        ASSERT_TRUE(facts) << facts.error().text;
        EXPECT_EQ(facts->kind, HeldKind::link);
    }
    EXPECT_EQ(this->read_all("target/velmarch-update.msi"), "protected");
}

TYPED_TEST(PlatformContract, FreeBytesOfAVolumeAreCounted) {
    auto free = this->platform.free_bytes(this->subject.root());
    ASSERT_TRUE(free) << free.error().text;
    EXPECT_GT(*free, 0u);
    EXPECT_FALSE(this->platform.free_bytes(this->at("absent")));
}

}  // namespace
}  // namespace velmarch::platform
