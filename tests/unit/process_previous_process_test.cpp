// The bounded wait for the application that started the updater.

#include <gtest/gtest.h>

#include "process/previous_process.h"
#include "support/case_name.h"
#include "support/process_world.h"

namespace velmarch::process {
namespace {

using testing::PrintTo;  // cases print by name

using platform::WaitOutcome;
using testing::Op;

class PreviousProcess : public ::testing::Test, public testing::ProcessWorld {};

TEST_F(PreviousProcess, ProcessThatCannotBeOpenedCountsAsGone) {
    for (std::uint32_t id : {0u, 4321u}) {
        request.parent_process_id = id;
        reporter.log.clear();
        ASSERT_TRUE(wait_for_previous_process(fake, request.parent_process_id, reporter).has_value());
        EXPECT_EQ(reporter.log, std::vector<std::string>{"The previous process has already exited."});
    }
    EXPECT_TRUE(fake.wait_limits.empty());
    EXPECT_EQ(fake.processes_opened, 0);
}

TEST_F(PreviousProcess, RefusedOpenCountsAsGone) {
    fake.running_processes.insert(4321);
    fake.fail(Op::open_process_for_wait, "access refused");
    ASSERT_TRUE(wait_for_previous_process(fake, request.parent_process_id, reporter).has_value());
    EXPECT_EQ(reporter.log, std::vector<std::string>{"The previous process has already exited."});
    EXPECT_TRUE(fake.wait_limits.empty());
}

struct WaitCase {
    const char* name;
    WaitOutcome outcome;
    bool wait_call_fails;
    const char* error;  // nullptr: success
};

class PreviousProcessWait : public PreviousProcess, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(PreviousProcessWait, WaitsOnceFor90SecondsAndClosesTheHandle) {
    const WaitCase& c = GetParam();
    request.parent_process_id = 4294967295u;
    fake.running_processes.insert(4294967295u);
    fake.wait_outcome = c.outcome;
    if (c.wait_call_fails) fake.fail(Op::wait, "wait failed");

    auto waited = wait_for_previous_process(fake, request.parent_process_id, reporter);

    if (c.error) {
        ASSERT_FALSE(waited.has_value());
        EXPECT_EQ(waited.error().text, c.error);
    } else {
        EXPECT_TRUE(waited.has_value()) << waited.error().text;
    }
    EXPECT_EQ(reporter.log, std::vector<std::string>{"Waiting for process 4294967295 to exit."});
    EXPECT_EQ(fake.wait_limits, std::vector<std::uint32_t>{90000});
    EXPECT_EQ(fake.processes_opened, 1);
    EXPECT_EQ(fake.processes_closed, 1);
}

const WaitCase kWaits[] = {
    {"exited", WaitOutcome::exited, false, nullptr},
    {"timed_out", WaitOutcome::timed_out, false, "The previous application process did not exit in time."},
    {"failed", WaitOutcome::failed, false, "Waiting for the previous application process failed."},
    {"wait_call_fails", WaitOutcome::exited, true, "Waiting for the previous application process failed."},
};

INSTANTIATE_TEST_SUITE_P(Outcomes, PreviousProcessWait, ::testing::ValuesIn(kWaits), testing::CaseName());

}  // namespace
}  // namespace velmarch::process
