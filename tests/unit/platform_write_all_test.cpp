// The one loop that writes a whole buffer, used by both platform
// implementations and the staging copy.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/write_all.h"
#include "support/file_bytes.h"

namespace velmarch::platform {
namespace {

using testing::bytes_of;

// A file whose writes take at most `chunk` bytes; write number `failing` (from
// 1) fails, or takes nothing when `failing_takes_nothing`.
class ScriptedFile final : public File {
public:
    std::size_t chunk = SIZE_MAX;
    int failing = 0;
    bool failing_takes_nothing = false;
    int writes = 0;
    std::string received;

    Result<std::size_t> read(std::span<std::byte>) override { return 0; }
    Result<std::size_t> write(std::span<const std::byte> bytes) override {
        ++writes;
        if (writes == failing) {
            if (failing_takes_nothing) return 0;
            return fail(ErrorKind::general, std::string("Disk full (os error 112)"));
        }
        const std::size_t taken = std::min(chunk, bytes.size());
        for (const std::byte b : bytes.first(taken)) received += static_cast<char>(b);
        return taken;
    }
    Result<void> flush() override { return {}; }
    Result<std::uint64_t> size() override { return received.size(); }
};

TEST(WriteAll, WritesTheRestAfterEachShortWrite) {
    const std::string content = "0123456789abcdefghij";
    struct Case {
        std::size_t chunk;
        int writes;
    } cases[] = {{SIZE_MAX, 1}, {20, 1}, {19, 2}, {7, 3}, {1, 20}};
    for (const auto& c : cases) {
        ScriptedFile file;
        file.chunk = c.chunk;
        ASSERT_TRUE(write_all(file, bytes_of(content))) << c.chunk;
        EXPECT_EQ(file.received, content) << c.chunk;
        EXPECT_EQ(file.writes, c.writes) << c.chunk;
    }
}

TEST(WriteAll, AnEmptyBufferWritesNothing) {
    ScriptedFile file;
    EXPECT_TRUE(write_all(file, {}));
    EXPECT_EQ(file.writes, 0);
}

TEST(WriteAll, StopsAtTheFirstFailureWithItsTextOrTheShortWriteText) {
    struct Case {
        int failing;
        bool takes_nothing;
        std::string_view error;
        std::string_view received;
    } cases[] = {
        {1, false, "Disk full (os error 112)", ""},
        {3, false, "Disk full (os error 112)", "012345"},
        {1, true, "failed to write whole buffer", ""},
        {2, true, "failed to write whole buffer", "012"},
    };
    for (const auto& c : cases) {
        ScriptedFile file;
        file.chunk = 3;
        file.failing = c.failing;
        file.failing_takes_nothing = c.takes_nothing;
        const Result<void> written = write_all(file, bytes_of("0123456789"));
        ASSERT_FALSE(written) << c.failing;
        EXPECT_EQ(written.error().text, c.error) << c.failing;
        EXPECT_EQ(file.received, c.received) << c.failing;
        EXPECT_EQ(file.writes, c.failing) << "no write after the failing one";
    }
}

}  // namespace
}  // namespace velmarch::platform
