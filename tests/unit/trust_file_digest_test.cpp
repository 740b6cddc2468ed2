#include <gtest/gtest.h>

#include "support/fake_platform.h"
#include "trust/file_digest.h"
#include "trust_test_signer.h"

namespace velmarch::trust {
namespace {

using testing::as_path;
using testing::FakePlatform;
using trust::compute_file_sha256;
using testing::Op;

std::string content_of_size(std::size_t size) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
    return content;
}

class TrustFileDigest : public ::testing::Test {
protected:
    ~TrustFileDigest() override { EXPECT_EQ(fake_.files_opened, fake_.files_closed); }
    FakePlatform fake_;
    const platform::Path path_{as_path("C:/dl/update.msi")};
};

TEST_F(TrustFileDigest, EmptyFileHasTheDigestOfZeroBytes) {
    fake_.add_file(path_, FakePlatform::Bytes{});
    EXPECT_EQ(compute_file_sha256(fake_, path_), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(fake_.files_opened, 1);
}

TEST_F(TrustFileDigest, StreamedDigestEqualsOneShotDigestAroundTheBufferSize) {
    struct Case {
        std::size_t size;
        int reads;  // reading stops at the length the file had when it was opened
    };
    for (const Case c : {Case{0, 0}, Case{1, 1}, Case{65535, 1}, Case{65536, 1}, Case{65537, 2}, Case{200000, 4}}) {
        FakePlatform fake;
        const std::string content = content_of_size(c.size);
        fake.add_file(path_, content);
        EXPECT_EQ(compute_file_sha256(fake, path_), trust_test::sha256_hex_of(content)) << c.size;
        EXPECT_EQ(fake.calls(Op::read), c.reads) << c.size;
        EXPECT_EQ(fake.files_closed, 1) << c.size;
    }
}

TEST_F(TrustFileDigest, ShortReadsAreHashedAndReadingGoesOn) {
    const std::string content = content_of_size(65537);
    fake_.add_file(path_, content);
    fake_.max_read_chunk = 1000;
    EXPECT_EQ(compute_file_sha256(fake_, path_), trust_test::sha256_hex_of(content));
    EXPECT_EQ(fake_.calls(Op::read), 66);
}

// Someone extends the file while it is read (a sparse file can grow to any
// size at once): the digest covers the length the file had when reading
// began and stops there.
TEST_F(TrustFileDigest, AFileExtendedWhileItIsReadIsReadOnlyToItsFormerLength) {
    const std::string content = content_of_size(200000);
    fake_.add_file(path_, content);
    fake_.before_call = [&](Op op, int call) {
        if (op == Op::read && call <= 3) fake_.add_file(path_, fake_.file_text(path_) + std::string(70000, 'x'));
    };
    auto file = fake_.open_for_reading(path_);
    ASSERT_TRUE(file);
    const Result<trust::FileDigest> digest = trust::compute_sha256(**file);
    ASSERT_TRUE(digest) << digest.error().text;
    EXPECT_EQ(digest->sha256, trust_test::sha256_hex_of(content));
    EXPECT_EQ(digest->length, content.size());
    EXPECT_EQ(fake_.calls(Op::read), 4);
}

// A file cut short while it is read ends at its new end.
TEST_F(TrustFileDigest, AFileCutShortWhileItIsReadEndsAtItsNewEnd) {
    const std::string content = content_of_size(200000);
    fake_.add_file(path_, content);
    fake_.before_call = [&](Op op, int call) {
        if (op == Op::read && call == 2) fake_.add_file(path_, content.substr(0, 100000));
    };
    auto file = fake_.open_for_reading(path_);
    ASSERT_TRUE(file);
    const Result<trust::FileDigest> digest = trust::compute_sha256(**file);
    ASSERT_TRUE(digest) << digest.error().text;
    EXPECT_EQ(digest->sha256, trust_test::sha256_hex_of(content.substr(0, 100000)));
    EXPECT_EQ(digest->length, 100000u);
}

TEST_F(TrustFileDigest, OpenFailureIsTheOsErrorTextUnchanged) {
    fake_.add_file(path_, "x");
    const std::string denied = testing::fake_os_error(5);
    fake_.fail(Op::open_for_reading, denied);
    EXPECT_EQ(trust_test::outcome_text(compute_file_sha256(fake_, path_)), denied);
    EXPECT_EQ(fake_.files_opened, 0);
}

TEST_F(TrustFileDigest, MissingFileIsTheOsErrorOfTheOpen) {
    EXPECT_EQ(trust_test::outcome_text(compute_file_sha256(fake_, path_)), testing::fake_os_error(2));
}

TEST_F(TrustFileDigest, ReadFailureEndsAtOnceAndClosesTheFile) {
    fake_.add_file(path_, content_of_size(200000));
    const std::string failure = testing::fake_os_error(23);
    fake_.fail(Op::read, failure, 2);
    EXPECT_EQ(trust_test::outcome_text(compute_file_sha256(fake_, path_)), failure);
    EXPECT_EQ(fake_.calls(Op::read), 2);
    EXPECT_EQ(fake_.files_closed, 1);
}

}  // namespace
}  // namespace velmarch::trust
