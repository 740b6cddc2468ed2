// The sweep of earlier runs' staging over the fake platform: what it removes,
// every reason it leaves something alone, and its bounds.

#include <gtest/gtest.h>

#include "platform/path/path.h"
#include "staging/staging_name.h"
#include "staging/sweep.h"
#include "support/fake_platform.h"
#include "support/staging_names.h"
#include "support/test_paths.h"

namespace velmarch::staging {
namespace {

using testing::as_path;
using testing::FakePlatform;
using testing::filled_staging_random;
using testing::kStagedLog;
using testing::kStagedPackage;
using testing::Op;
using testing::staging_name;
using testing::test_path;

TEST(StagingDirectoryNameForm, OnlyTheExactFormARunMakes) {
    const std::string hex = "0123456789abcdef0123456789abcdef";
    const std::string prefix(kStagingNamePrefix);
    struct Case {
        std::string name;
        bool matches;
    } cases[] = {
        {"VelmarchUpdate-5120-" + hex, true},
        {prefix + "0-" + hex, true},
        {prefix + "4294967295-" + hex, true},
        {prefix + "4294967296-" + hex, false},  // above a process id
        {prefix + "99999999999-" + hex, false},
        {prefix + "05120-" + hex, false},  // leading zero
        {prefix + "-" + hex, false},       // no process id
        {prefix + "+5-" + hex, false},
        {prefix + " 5-" + hex, false},
        {prefix + "5120-" + hex.substr(1), false},                  // 31 digits
        {prefix + "5120-" + hex + "0", false},                      // 33 digits
        {prefix + "5120-0123456789ABCDEF0123456789abcdef", false},  // upper case
        {prefix + "5120-0123456789abcdeg0123456789abcdef", false},
        {"velmarchupdate-5120-" + hex, false},
        {"VELMARCHUPDATE-5120-" + hex, false},
        {prefix + "5120_" + hex, false},
        {prefix + "5120-" + hex + ".", false},
        {prefix + "5120-" + hex + " ", false},
        {prefix + "5120-" + hex + ":stream", false},
        {prefix + "5120-" + hex + "/x", false},
        {" " + prefix + "5120-" + hex, false},
        {"x" + prefix + "5120-" + hex, false},
        {prefix + "5120-" + hex.substr(0, 16) + std::string(1, '\0') + hex.substr(17), false},
        {prefix + "5120", false},
        {prefix, false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(is_staging_directory_name(c.name), c.matches) << c.name;
}

constexpr std::uint64_t kNow = 1796605200;
const std::string kTemp = "/Windows/Temp";
const std::string kStale = kTemp + "/" + staging_name(4242);

// The sweep's machine: a Windows directory with its Temp folder, at kNow.
void set_up_machine(FakePlatform& p) {
    p.windows_dir = test_path("/Windows");
    p.now = kNow;
    p.add_directory(kTemp);
}

class Sweep : public ::testing::Test {
protected:
    Sweep() { set_up_machine(platform); }

    // An earlier run's staging, last changed long ago.
    void add_stale(const std::string& directory, bool with_log = true) {
        platform.add_file(directory + "/" + kStagedPackage, "package");
        if (with_log) platform.add_file(directory + "/" + kStagedLog, "log");
        platform.set_modified(directory, kNow - 3600);
    }

    // Everything handed out was released.
    void TearDown() override {
        EXPECT_EQ(platform.held_opened, platform.held_closed);
        EXPECT_EQ(platform.descriptors_created, platform.descriptors_freed);
    }

    FakePlatform platform;
};

TEST_F(Sweep, RemovesAnEarlierRunsStagingAndWhatItHolds) {
    add_stale(kStale);
    const std::string second = kTemp + "/" + staging_name(7, filled_staging_random(0xff));
    add_stale(second, false);
    platform.add_directory(kTemp + "/" + staging_name(8, filled_staging_random(0xee)));  // empty
    platform.set_modified(kTemp + "/" + staging_name(8, filled_staging_random(0xee)), 1);
    platform.add_file(kTemp + "/unrelated.txt", "someone's");

    EXPECT_EQ(sweep_stale_staging(platform), 3u);
    EXPECT_FALSE(platform.has_directory(kStale));
    EXPECT_FALSE(platform.has_directory(second));
    EXPECT_TRUE(platform.has_file(kTemp + "/unrelated.txt"));
    EXPECT_EQ(platform.swept.size(), 6u);        // three directories, three files
    EXPECT_EQ(platform.descriptors_created, 1);  // one staging access list for every candidate
}

TEST_F(Sweep, NothingInARunThatIsNotElevated) {
    add_stale(kStale);
    platform.is_elevated = false;
    EXPECT_EQ(sweep_stale_staging(platform), 0u);
    EXPECT_TRUE(platform.has_directory(kStale));
    EXPECT_EQ(platform.calls(Op::open_held_directory), 0);
}

TEST_F(Sweep, NothingWithoutAWindowsDirectoryOrItsTempFolder) {
    add_stale(kStale);
    platform.windows_dir.reset();
    EXPECT_EQ(sweep_stale_staging(platform), 0u);
    platform.windows_dir = test_path("/Elsewhere");
    EXPECT_EQ(sweep_stale_staging(platform), 0u);
    EXPECT_TRUE(platform.has_directory(kStale));
}

// Each case changes one thing about an otherwise stale staging directory;
// nothing of it, and nothing it leads to, may be removed.
TEST_F(Sweep, LeavesAloneWhatIsNotExactlyAnEarlierRunsStaging) {
    const std::string target = "/Users/Public/Protected";
    struct Case {
        std::string_view name;
        std::function<void(FakePlatform&)> set_up;
    } cases[] = {
        {"a name of another form",
         [](FakePlatform& p) {
             const std::string other =
                 kTemp + "/" + std::string(kStagingNamePrefix) + "4242-00112233445566778899AABBCCDDEEFF";
             p.add_file(other + "/" + kStagedPackage, "package");
             p.set_modified(other, 1);
         }},
        {"a link of that name to a folder",
         [&](FakePlatform& p) {
             p.add_file(target + "/" + kStagedPackage, "protected");
             p.set_modified(target, 1);
             p.add_link(kStale, target);
         }},
        {"owned by a user",
         [](FakePlatform& p) {
             p.add_file(kStale + "/" + kStagedPackage, "package");
             p.set_modified(kStale, 1);
             p.set_untrusted_owner(kStale);
         }},
        {"another access list",
         [](FakePlatform& p) {
             p.add_file(kStale + "/" + kStagedPackage, "package");
             p.set_modified(kStale, 1);
             p.set_foreign_access_list(kStale);
         }},
        {"changed within five minutes",
         [](FakePlatform& p) {
             p.add_file(kStale + "/" + kStagedPackage, "package");
             p.set_modified(kStale, kNow - kSweepQuietSeconds + 1);
         }},
        {"changed in the future",
         [](FakePlatform& p) {
             p.add_file(kStale + "/" + kStagedPackage, "package");
             p.set_modified(kStale, kNow + 3600);
         }},
        {"a package changed within five minutes",
         [](FakePlatform& p) {
             p.add_file(kStale + "/" + kStagedPackage, "package");
             p.set_modified(kStale, 1);
             p.set_modified(kStale + "/" + kStagedPackage, kNow - 60);
         }},
        {"a package owned by a user",
         [](FakePlatform& p) {
             p.add_file(kStale + "/" + kStagedPackage, "package");
             p.set_modified(kStale, 1);
             p.set_untrusted_owner(kStale + "/" + kStagedPackage);
         }},
        {"something else inside",
         [](FakePlatform& p) {
             p.add_file(kStale + "/" + kStagedPackage, "package");
             p.add_file(kStale + "/notes.txt", "someone's");
             p.set_modified(kStale, 1);
         }},
        {"a folder inside",
         [](FakePlatform& p) {
             p.add_directory(kStale + "/" + kStagedPackage);
             p.set_modified(kStale, 1);
         }},
        {"a link inside, of a run file's name",
         [&](FakePlatform& p) {
             p.add_file(target + "/secret.txt", "protected");
             p.add_link(kStale + "/" + kStagedLog, target + "/secret.txt");
             p.set_modified(kStale, 1);
         }},
        {"a device inside, of a run file's name",
         [](FakePlatform& p) {
             p.add_special(kStale + "/" + kStagedPackage);
             p.set_modified(kStale, 1);
         }},
        {"a package a live run holds",
         [](FakePlatform& p) {
             p.add_file(kStale + "/" + kStagedPackage, "package");
             p.add_file(kStale + "/" + kStagedLog, "log");
             p.set_modified(kStale, 1);
             p.held_files.insert(kStale + "/" + kStagedPackage);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform p;
        set_up_machine(p);
        c.set_up(p);
        const auto before = p.entries_below("/");
        EXPECT_EQ(sweep_stale_staging(p), 0u);
        EXPECT_EQ(p.entries_below("/"), before);
        EXPECT_TRUE(p.swept.empty());
        EXPECT_EQ(p.held_opened, p.held_closed);
        EXPECT_EQ(p.file_text(target + "/" + kStagedPackage),
                  p.has_file(target + "/" + kStagedPackage) ? "protected" : "");
    }
}

TEST_F(Sweep, ALiveRunsHeldPackageKeepsItsStagingWhileOthersGo) {
    add_stale(kStale);
    const std::string live = kTemp + "/" + staging_name(99, filled_staging_random(0x99));
    add_stale(live);
    auto hold = platform.hold_file(as_path(live + "/" + kStagedPackage));
    ASSERT_TRUE(hold);
    EXPECT_EQ(sweep_stale_staging(platform), 1u);
    EXPECT_TRUE(platform.has_file(live + "/" + kStagedPackage));
    EXPECT_TRUE(platform.has_file(live + "/" + kStagedLog));  // nothing of it went
    EXPECT_FALSE(platform.has_directory(kStale));
    hold->reset();
    EXPECT_EQ(sweep_stale_staging(platform), 1u);  // once the run is over
    EXPECT_FALSE(platform.has_directory(live));
}

TEST_F(Sweep, ExaminesAtMostItsLimitOfCandidates) {
    for (std::size_t i = 0; i < kSweepCandidateLimit + 5; ++i)
        add_stale(kTemp + "/" + staging_name(static_cast<std::uint32_t>(1000 + i)));
    EXPECT_EQ(sweep_stale_staging(platform), kSweepCandidateLimit);
    // One candidate more is opened: it shows that the limit stopped the sweep.
    EXPECT_EQ(platform.calls(Op::held_open_directory), static_cast<int>(kSweepCandidateLimit) + 1);
    EXPECT_EQ(sweep_stale_staging(platform), 5u);  // the rest go with a later run
}

TEST_F(Sweep, LooksAtMostAtItsLimitOfStagingLikeNames) {
    // Look-alikes of the staging prefix sort before the one real leftover;
    // only the first kSweepNameLimit such names are ever read.
    for (std::size_t i = 0; i < kSweepNameLimit; ++i)
        platform.add_file(kTemp + "/" + std::string(kStagingNamePrefix) + std::to_string(100000 + i) + "-look-alike",
                          "");
    add_stale(kStale);
    EXPECT_EQ(sweep_stale_staging(platform), 0u);
    EXPECT_EQ(platform.calls(Op::held_open_directory), 0);
    EXPECT_TRUE(platform.has_directory(kStale));
}

TEST_F(Sweep, UnrelatedEntriesOfTheTempFolderDoNotHideALeftover) {
    for (std::size_t i = 0; i < kSweepNameLimit + 100; ++i)
        platform.add_file(kTemp + "/A-temporary-file-" + std::to_string(100000 + i), "");
    add_stale(kStale);
    EXPECT_EQ(sweep_stale_staging(platform), 1u);
    EXPECT_FALSE(platform.has_directory(kStale));
}

TEST_F(Sweep, StopsOnceItsTimeIsUp) {
    for (int i = 0; i < 10; ++i) add_stale(kTemp + "/" + staging_name(static_cast<std::uint32_t>(1000 + i)));
    // Every candidate takes a second.
    platform.before_call = [this](Op op, int) {
        if (op == Op::held_open_directory) ++platform.now;
    };
    EXPECT_EQ(sweep_stale_staging(platform), kSweepSecondLimit);
}

TEST_F(Sweep, AFailureAnywhereLeavesThatCandidateAndGoesOn) {
    for (Op op : {Op::held_open_directory, Op::held_facts, Op::held_access_list, Op::held_names, Op::take_file,
                  Op::held_remove}) {
        SCOPED_TRACE(testing::op_name(op));
        FakePlatform p;
        set_up_machine(p);
        const std::string first = kTemp + "/" + staging_name(1);
        const std::string second = kTemp + "/" + staging_name(2);
        for (const std::string& d : {first, second}) {
            p.add_file(d + "/" + kStagedPackage, "package");
            p.set_modified(d, 1);
        }
        // Names are read twice before the first candidate's first call of a
        // kind only for held_names (Temp, then the candidate).
        p.fail(op, "Injected failure. (os error 1)", op == Op::held_names ? 2 : 1);
        EXPECT_EQ(sweep_stale_staging(p), 1u);
        EXPECT_TRUE(p.has_directory(first));
        EXPECT_FALSE(p.has_directory(second));
        EXPECT_EQ(p.held_opened, p.held_closed);
    }
}

// Directories of the exact staging form that a user can make, sorting before
// an earlier run's real leftover, many times the candidate limit of each
// kind: none counts as a candidate, the leftover goes, and no bound stops the
// sweep.
TEST_F(Sweep, NoNumberOfLookAlikesAUserMadeKeepsItFromAnEarlierRunsStaging) {
    const std::string target = "/Users/Public/Elsewhere";
    platform.add_directory(target);
    struct Kind {
        std::string_view name;
        std::function<void(FakePlatform&, const std::string&)> make;
    } kinds[] = {
        {"a folder a user owns",
         [](FakePlatform& p, const std::string& d) {
             p.add_file(d + "/" + kStagedPackage, "a user's");
             p.set_untrusted_owner(d);
         }},
        {"a folder of another access list",
         [](FakePlatform& p, const std::string& d) {
             p.add_file(d + "/" + kStagedPackage, "a user's");
             p.set_foreign_access_list(d);
         }},
        {"a link", [&](FakePlatform& p, const std::string& d) { p.add_link(d, target); }},
        {"a file", [](FakePlatform& p, const std::string& d) { p.add_file(d, "a user's"); }},
    };
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        FakePlatform p;
        set_up_machine(p);
        p.add_directory(target);
        for (std::size_t i = 0; i < 4 * kSweepCandidateLimit; ++i) {
            const std::string look_alike = kTemp + "/" + staging_name(static_cast<std::uint32_t>(1000 + i));
            kind.make(p, look_alike);
            p.set_modified(look_alike, 1);
        }
        p.add_file(kStale + "/" + kStagedPackage, "package");
        p.set_modified(kStale, 1);
        const auto look_alikes = p.entries_below(kTemp).size() - 2;  // the leftover and its package

        SweepLimit stopped = SweepLimit::candidates;
        EXPECT_EQ(sweep_stale_staging(p, &stopped), 1u);
        EXPECT_EQ(stopped, SweepLimit::none);
        EXPECT_FALSE(p.has_directory(kStale));
        EXPECT_EQ(p.entries_below(kTemp).size(), look_alikes);
        EXPECT_EQ(p.held_opened, p.held_closed);
    }
}

// Each bound that ends a sweep early is told apart; a sweep that looked at
// every name tells none.
TEST_F(Sweep, TellsWhichBoundStoppedIt) {
    const auto staging_name = [](std::size_t i) {
        return kTemp + "/" + testing::staging_name(static_cast<std::uint32_t>(1000 + i));
    };
    struct Case {
        std::string_view name;
        std::function<void(FakePlatform&)> set_up;
        SweepLimit stopped;
    } cases[] = {
        {"one leftover", [](FakePlatform& p) { p.add_file(kStale + "/" + kStagedPackage, "package"); },
         SweepLimit::none},
        {"as many stagings as the candidate limit",
         [&](FakePlatform& p) {
             for (std::size_t i = 0; i < kSweepCandidateLimit; ++i) p.add_directory(staging_name(i));
         },
         SweepLimit::none},
        {"one staging more than the candidate limit",
         [&](FakePlatform& p) {
             for (std::size_t i = 0; i <= kSweepCandidateLimit; ++i) p.add_directory(staging_name(i));
         },
         SweepLimit::candidates},
        {"as many names of the prefix as the name limit",
         [](FakePlatform& p) {
             for (std::size_t i = 0; i < kSweepNameLimit; ++i)
                 p.add_file(kTemp + "/" + std::string(staging::kStagingNamePrefix) + std::to_string(100000 + i), "");
         },
         SweepLimit::none},
        {"one name of the prefix more than the name limit",
         [](FakePlatform& p) {
             for (std::size_t i = 0; i <= kSweepNameLimit; ++i)
                 p.add_file(kTemp + "/" + std::string(staging::kStagingNamePrefix) + std::to_string(100000 + i), "");
         },
         SweepLimit::names},
        {"candidates that take a second each",
         [&](FakePlatform& p) {
             for (std::size_t i = 0; i < 10; ++i) p.add_directory(staging_name(i));
             p.before_call = [&p](Op op, int) {
                 if (op == Op::held_open_directory) ++p.now;
             };
         },
         SweepLimit::seconds},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform p;
        set_up_machine(p);
        c.set_up(p);
        SweepLimit stopped = c.stopped == SweepLimit::none ? SweepLimit::names : SweepLimit::none;
        static_cast<void>(sweep_stale_staging(p, &stopped));
        EXPECT_EQ(stopped, c.stopped);
    }
}

}  // namespace
}  // namespace velmarch::staging
