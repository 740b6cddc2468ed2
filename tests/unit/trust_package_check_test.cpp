#include <gtest/gtest.h>

#include "run/stage_inputs.h"
#include "run/update_request.h"
#include "support/fake_platform.h"
#include "support/test_signing.h"
#include "trust/package_check.h"
#include "trust/update_signature.h"
#include "trust_test_signer.h"

namespace velmarch::trust {
namespace {

using testing::as_path;
using testing::FakePlatform;
using trust::has_msi_extension;
using trust::verify_update_package;
using testing::Op;
using testing::test_path;

constexpr std::string_view kNotMsi = "The downloaded update package is not a valid MSI file.";
constexpr std::string_view kDigestMismatch = "Update package SHA-256 verification failed.";
constexpr std::string_view kContent = "not an installer database at all";

// The signature step runs against the embedded key, which the tests cannot
// sign for; a request that reaches it is recognised by its refusal there.
constexpr std::string_view kReachedSignature = "Update signature verification failed.";

std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

class TrustPackageCheck : public ::testing::Test {
protected:
    TrustPackageCheck() {
        request_.expected_sha256 = trust_test::sha256_hex_of(kContent);
        request_.expected_version = "2.4.0";
        request_.signature = trust_test::TestSigner().sign_base64("unrelated");
        request_.key_id = std::string(kAcceptedKeyId);
        request_.signature_algorithm = "ed25519";
    }
    ~TrustPackageCheck() override { EXPECT_EQ(fake_.files_opened, fake_.files_closed); }

    std::string check(const testing::FakePath& where) {
        const platform::Path& path = where.path;
        const auto outcome = verify_update_package(fake_, path, run::package_claim(request_));
        return outcome ? "accepted" : outcome.error().text;
    }

    FakePlatform fake_;
    run::UpdateRequest request_;
};

TEST_F(TrustPackageCheck, FileNameExtensionMustBeMsiInAnyAsciiCase) {
    struct Case {
        std::string_view name;
        bool passes;
    };
    const Case cases[] = {
        {"update.msi", true},   {"update.MSI", true},   {"update.Msi", true},
        {"a.b.msi", true},      {"..msi", true},        {"update.msi.part", false},
        {"update.ms", false},   {"update", false},      {".msi", false},
        {"x.", false},          {"update.msix", false}, {"update.m\xc3\xa9i", false},
        {"update.msi ", false}, {"msi", false},
    };
    for (const auto& c : cases) {
        // The names are UTF-8, converted the same way on every system.
        const platform::Path path = test_path("C:/dl") / platform::path_from_utf8(c.name);
        fake_.add_file(path, kContent);
        EXPECT_EQ(check(path), c.passes ? kReachedSignature : kNotMsi) << c.name;
        EXPECT_EQ(has_msi_extension(path), c.passes) << c.name;
    }
}

TEST_F(TrustPackageCheck, PathWithoutAFileNameHasNoExtension) {
    EXPECT_FALSE(has_msi_extension(as_path("C:/dl/update.msi/..")));
    EXPECT_FALSE(has_msi_extension(as_path("C:/dl/update.msi/")));
}

TEST_F(TrustPackageCheck, MissingFileIsRefusedAsNotMsiWithoutOpeningIt) {
    EXPECT_EQ(check("C:/dl/update.msi"), kNotMsi);
    EXPECT_EQ(fake_.calls(Op::open_for_reading), 0);
}

TEST_F(TrustPackageCheck, DirectoryNamedLikeAPackageIsRefused) {
    fake_.add_directory("C:/dl/update.msi");
    EXPECT_EQ(check("C:/dl/update.msi"), kNotMsi);
}

// A FIFO, pipe or device named like a package, there from the start or
// swapped in after the type query: refused as not an MSI file, nothing read.
TEST_F(TrustPackageCheck, AnythingButARegularFileIsRefusedAsNotMsiBeforeAByteIsRead) {
    fake_.add_special("C:/dl/fifo.msi");
    EXPECT_EQ(check("C:/dl/fifo.msi"), kNotMsi);

    fake_.add_file("C:/dl/update.msi", kContent);
    fake_.before_call = [&](Op op, int) {
        if (op == Op::open_for_reading) {
            (void)fake_.delete_file(as_path("C:/dl/update.msi"));
            fake_.add_special("C:/dl/update.msi");
        }
    };
    EXPECT_EQ(check("C:/dl/update.msi"), kNotMsi);
    EXPECT_EQ(fake_.calls(Op::read), 0);
}

// The refusal follows the open's error kind, not its text: a system error
// that happens to read "not a regular file" is reported as it is, and a
// not-a-regular-file refusal in any words is "not a valid MSI file".
TEST_F(TrustPackageCheck, TheOpensErrorKindDecidesTheRefusal) {
    fake_.add_file("C:/dl/update.msi", kContent);
    fake_.fail(Op::open_for_reading, "not a regular file", 1, ErrorKind::os_error);
    EXPECT_EQ(check("C:/dl/update.msi"), "not a regular file");
    fake_.fail(Op::open_for_reading, "Access is denied. (os error 5)", 2, ErrorKind::not_a_regular_file);
    EXPECT_EQ(check("C:/dl/update.msi"), kNotMsi);
}

TEST_F(TrustPackageCheck, AVerifiedPackageReportsTheLengthItsDigestCovered) {
    const std::string content(100000, 'q');
    fake_.add_file("C:/dl/update.msi", content);
    fake_.max_read_chunk = 4096;
    testing::sign_request(request_, content);
    auto verified = verify_update_package(fake_, as_path("C:/dl/update.msi"), run::package_claim(request_));
    ASSERT_TRUE(verified) << verified.error().text;
    EXPECT_EQ(verified->length, content.size());
}

TEST_F(TrustPackageCheck, FailedTypeQueryIsRefusedAsNotMsi) {
    fake_.add_file("C:/dl/update.msi", kContent);
    fake_.fail(Op::file_type, testing::fake_os_error(5));
    EXPECT_EQ(check("C:/dl/update.msi"), kNotMsi);
}

TEST_F(TrustPackageCheck, OpenOrReadFailureIsTheBareOsErrorText) {
    fake_.add_file("C:/dl/update.msi", kContent);
    fake_.fail(Op::open_for_reading, testing::fake_os_error(32), 1);
    fake_.fail(Op::read, testing::fake_os_error(23), 1);
    EXPECT_EQ(check("C:/dl/update.msi"), testing::fake_os_error(32));
    EXPECT_EQ(check("C:/dl/update.msi"), testing::fake_os_error(23));
}

TEST_F(TrustPackageCheck, ExpectedDigestMustMatchByteForByteBeforeTheSignatureIsLookedAt) {
    fake_.add_file("C:/dl/update.msi", kContent);
    const std::string digest = request_.expected_sha256;
    struct Case {
        std::string_view name;
        std::string expected_sha256;
        std::string_view outcome;
    };
    const Case cases[] = {
        {"equal", digest, kReachedSignature},
        {"63 characters", digest.substr(0, 63), kDigestMismatch},
        {"65 characters", digest + "0", kDigestMismatch},
        {"0x prefix", "0x" + digest.substr(2), kDigestMismatch},
        {"not hexadecimal", "z" + digest.substr(1), kDigestMismatch},
        {"another digest", trust_test::sha256_hex_of("other"), kDigestMismatch},
        {"blank after it", digest + " ", kDigestMismatch},
        {"upper case (the command line lower-cases it)", upper(digest), kDigestMismatch},
    };
    for (const auto& c : cases) {
        request_.expected_sha256 = c.expected_sha256;
        EXPECT_EQ(check("C:/dl/update.msi"), c.outcome) << c.name;
    }
}

TEST_F(TrustPackageCheck, WrongDigestAndWrongSignatureReportTheDigest) {
    fake_.add_file("C:/dl/update.msi", kContent);
    request_.expected_sha256 = trust_test::sha256_hex_of("other");
    request_.signature = "not base64 at all";
    EXPECT_EQ(check("C:/dl/update.msi"), kDigestMismatch);
}

TEST_F(TrustPackageCheck, SignatureMessagesPassThroughUnchanged) {
    fake_.add_file("C:/dl/update.msi", kContent);
    request_.signature_algorithm = "rsa";
    EXPECT_EQ(check("C:/dl/update.msi"), "Unsupported update signature algorithm.");
    request_.signature_algorithm = "ed25519";
    request_.key_id = "velmarch-update-2026-02";
    EXPECT_EQ(check("C:/dl/update.msi"), "Update signature metadata is invalid.");
}

TEST_F(TrustPackageCheck, EmptyPackageIsHashedNotRefusedForItsSize) {
    fake_.add_file("C:/dl/update.msi", FakePlatform::Bytes{});
    request_.expected_sha256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    EXPECT_EQ(check("C:/dl/update.msi"), kReachedSignature);
}

TEST_F(TrustPackageCheck, EveryCallReadsTheFileAgain) {
    fake_.add_file("C:/dl/update.msi", kContent);
    EXPECT_EQ(check("C:/dl/update.msi"), kReachedSignature);
    fake_.add_file("C:/dl/update.msi", "changed");
    EXPECT_EQ(check("C:/dl/update.msi"), kDigestMismatch);
    EXPECT_EQ(fake_.files_opened, 2);
}

// A package signed by the key the build embeds (the development key).
TEST_F(TrustPackageCheck, SignedPackageIsAcceptedTwiceWithTheComputedDigestSigned) {
    const std::string digest = trust_test::sha256_hex_of(kContent);
    const auto signature = trust_test::sign_for_embedded_key(
        "velmarch-update-v1\nkey-id:velmarch-update-2026-01\nversion:2.4.0\nsha256:" + digest + "\n");
    if (!signature) GTEST_SKIP() << "this build embeds another update key";
    request_.signature = *signature;
    fake_.add_file("C:/dl/update.MSI", kContent);
    fake_.add_file("C:/stage/velmarch-update.msi", kContent);
    EXPECT_EQ(check("C:/dl/update.MSI"), "accepted");
    EXPECT_EQ(check("C:/stage/velmarch-update.msi"), "accepted");

    request_.expected_version = "2.4.1";
    EXPECT_EQ(check("C:/dl/update.MSI"), kReachedSignature);
}

}  // namespace
}  // namespace velmarch::trust
