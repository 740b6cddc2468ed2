// The sweep at its edges, over the fake platform: an entry exactly as old as
// the quiet time, and a staging folder whose extra entry is listed only after
// both run files.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "staging/sweep.h"
#include "support/fake_platform.h"
#include "support/staging_names.h"
#include "support/test_paths.h"

namespace velmarch::staging {
namespace {

using testing::as_path;
using testing::FakePlatform;
using testing::test_path;

constexpr std::uint64_t kNow = 1796605200;
const std::string kTemp = "/Windows/Temp";
const std::string kStaging = kTemp + "/" + testing::staging_name(4242);
const std::string kPackage = kStaging + "/" + testing::kStagedPackage;
const std::string kLog = kStaging + "/" + testing::kStagedLog;

// An elevated run's machine whose Temp folder holds an earlier run's staging
// with both run files, all of it last changed an hour ago.
void lay_out_stale_staging(FakePlatform& machine) {
    machine.windows_dir = test_path("/Windows");
    machine.now = kNow;
    machine.add_directory(kTemp);
    machine.add_file(kPackage, "package");
    machine.add_file(kLog, "log");
    for (const std::string& entry : {kStaging, kPackage, kLog}) machine.set_modified(entry, kNow - 3600);
}

// Unchanged for exactly the quiet time is unchanged for long enough, for the
// folder and for each file in it alike.
TEST(SweepEdges, AnEntryExactlyTheQuietTimeOldGoes) {
    for (const std::string& entry : {kStaging, kPackage, kLog}) {
        SCOPED_TRACE(entry);
        FakePlatform machine;
        lay_out_stale_staging(machine);
        machine.set_modified(entry, kNow - kSweepQuietSeconds);
        EXPECT_EQ(sweep_stale_staging(machine), 1u);
        EXPECT_FALSE(machine.has_directory(kStaging));
        EXPECT_EQ(machine.held_opened, machine.held_closed);
    }
}

// The folder holds both run files and someone's file that the listing gives
// after them: reading no more names than a run puts there would show only
// the run files, and the sweep would delete them and then leave the folder.
TEST(SweepEdges, AnEntryListedAfterBothRunFilesKeepsEverythingOfTheFolder) {
    FakePlatform machine;
    lay_out_stale_staging(machine);
    machine.add_file(kStaging + "/zz-someone's.txt", "someone's");
    {
        // The fixture shows the fault only while the run files come first.
        auto folder = machine.open_held_directory(as_path(kStaging));
        ASSERT_TRUE(folder) << folder.error().text;
        auto first_two = (*folder)->names("", 2);
        ASSERT_TRUE(first_two) << first_two.error().text;
        ASSERT_EQ(*first_two, (std::vector<std::string>{testing::kStagedLog, testing::kStagedPackage}));
    }
    const auto before = machine.entries_below("/");
    EXPECT_EQ(sweep_stale_staging(machine), 0u);
    EXPECT_EQ(machine.entries_below("/"), before);
    EXPECT_TRUE(machine.swept.empty());
    EXPECT_EQ(machine.file_text(kPackage), "package");
    EXPECT_EQ(machine.file_text(kLog), "log");
    EXPECT_EQ(machine.held_opened, machine.held_closed);
}

}  // namespace
}  // namespace velmarch::staging
