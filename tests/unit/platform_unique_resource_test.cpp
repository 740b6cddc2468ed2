// The common owner over a counting resource and a last-error slot of its own;
// the real descriptors and handles are tested with each platform.

#include <gtest/gtest.h>

#include <vector>

#include "platform/unique_resource.h"

namespace velmarch::platform {
namespace {

std::vector<int> released;  // values in release order
int last_error = 0;         // the thread's last error of this pretend system

struct CountingTraits {
    using Value = int;
    static Value invalid() noexcept { return 0; }
    static bool is_valid(Value value) noexcept { return value != 0; }
    static bool release(Value value) noexcept {
        released.push_back(value);
        last_error = 1000 + value;  // every release leaves an error of its own
        return value > 0;
    }
    static bool nothing_released() noexcept { return true; }
};

class KeepCountingError {
public:
    KeepCountingError() noexcept : saved_(last_error) {}
    KeepCountingError(const KeepCountingError&) = delete;
    KeepCountingError& operator=(const KeepCountingError&) = delete;
    ~KeepCountingError() { last_error = saved_; }

private:
    int saved_;
};

using Owner = UniqueResource<CountingTraits, KeepCountingError>;

class UniqueResourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        released.clear();
        last_error = 0;
    }
};

TEST_F(UniqueResourceTest, ReleasesEachValueOnceWhateverWayItsOwnerEnds) {
    {
        Owner first(1);
        Owner second(2);
        Owner moved(std::move(first));
        second = std::move(moved);  // 2 goes, 1 moves on
        EXPECT_FALSE(first.valid());
        EXPECT_EQ(second.get(), 1);
        Owner third(3);
        third.reset(4);
        Owner given_up(5);
        EXPECT_EQ(given_up.release(), 5);
        EXPECT_FALSE(given_up);
    }
    EXPECT_EQ(released, (std::vector<int>{2, 3, 4, 1}));
}

TEST_F(UniqueResourceTest, ResetAndDestructionKeepTheLastError) {
    Owner owner(7);
    last_error = 2;  // a failing call's error, read after the owner is reset
    owner.reset(8);
    EXPECT_EQ(last_error, 2);
    {
        const Owner scoped(9);
        last_error = 3;
    }
    EXPECT_EQ(last_error, 3);
    EXPECT_EQ(released, (std::vector<int>{7, 9}));
}

// A C function that makes a resource and writes it into its out-parameter.
bool make_resource(int value, int* out) {
    *out = value;
    return true;
}

TEST_F(UniqueResourceTest, PutReleasesTheOldValueOnceAndOwnsWhatIsWrittenThere) {
    {
        Owner owner(1);
        last_error = 2;
        int* const slot = owner.put();
        EXPECT_EQ(released, (std::vector<int>{1}));
        EXPECT_EQ(last_error, 2);  // the release kept the error
        EXPECT_FALSE(owner.valid());
        EXPECT_EQ(*slot, 0);
        ASSERT_TRUE(make_resource(3, owner.put()));
        EXPECT_EQ(owner.get(), 3);
        Owner empty;
        ASSERT_TRUE(make_resource(4, empty.put()));  // nothing held, nothing released
        EXPECT_EQ(released, (std::vector<int>{1}));
        EXPECT_EQ(empty.get(), 4);
    }
    EXPECT_EQ(released, (std::vector<int>{1, 4, 3}));
}

TEST_F(UniqueResourceTest, CloseReportsTheReleaseAndItsError) {
    Owner failing(-6);
    EXPECT_FALSE(failing.close());
    EXPECT_EQ(last_error, 994);
    EXPECT_FALSE(failing.valid());
    EXPECT_TRUE(failing.close());  // nothing held: nothing released again
    EXPECT_EQ(released, (std::vector<int>{-6}));
}

}  // namespace
}  // namespace velmarch::platform
