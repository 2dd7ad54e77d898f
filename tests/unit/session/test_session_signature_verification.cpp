#include "service/session/signature_verification.hpp"
#include "tests/support/test_pki.hpp"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace plexmill::session {
namespace {

using tnw::test::Bytes;
using tnw::test::TestPki;

std::string hexOf(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (const auto byte : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

class SignatureVerification : public testing::Test {
protected:
    void SetUp() override { TestPki::shared().trustRoot(); }

    // A kernel file signed and time-stamped by a signer with the given serial number.
    std::string signedKernel(const std::string& signer, const std::string& serial) {
        TestPki::shared().issue({signer, serial});
        const Bytes content = {'M', 'Z', 0x90, 0x00, 'k', 'e', 'r', 'n', 'e', 'l'};
        const auto path = folder_ / (signer + ".dll");
        tnw::test::writeBytes(path, tnw::test::signedFile(content, signer));
        return path.string();
    }

    std::vector<std::string> reasons_;
    RefusalWriter capture_ = [this](const std::string& reason) { reasons_.push_back(reason); };
    tnw::test::TempFolder folder_{"plexmill-session-signature"};
};

TEST_F(SignatureVerification, AllowsSixSignersOfSixteenAndEighteenBytes) {
    const auto& serials = allowedSigners();
    ASSERT_EQ(serials.size(), 6U);
    std::size_t sixteen = 0;
    std::size_t eighteen = 0;
    for (const auto& serial : serials) {
        sixteen += serial.size() == 16 ? 1 : 0;
        eighteen += serial.size() == 18 ? 1 : 0;
    }
    EXPECT_EQ(sixteen, 4U);
    EXPECT_EQ(eighteen, 2U);
    EXPECT_EQ(&allowedSigners(), &serials); // built once
}

TEST_F(SignatureVerification, AcceptsEverySignerOfTheBuildTableSilently) {
    const auto& serials = allowedSigners();
    for (std::size_t i = 0; i < serials.size(); ++i) {
        SCOPED_TRACE(i);
        const auto path = signedKernel("table-" + std::to_string(i), hexOf(serials[i]));
        EXPECT_TRUE(verifySignature(path, capture_));
    }
    EXPECT_TRUE(reasons_.empty());
}

TEST_F(SignatureVerification, WritesEachRefusalWithItsReason) {
    const auto outsider = signedKernel("session-outsider", "7f00000000000000000000000000aa01");
    const auto plain = (folder_ / "plain.dll").string();
    tnw::test::writeFile(plain, "MZ not signed");

    EXPECT_FALSE(verifySignature(outsider, capture_));
    EXPECT_FALSE(verifySignature(plain, capture_));
    ASSERT_EQ(reasons_.size(), 2U);
    EXPECT_EQ(reasons_[0], "Signer not allowed for '" + outsider + "'.");
    EXPECT_EQ(reasons_[1], "No signature (0x800b0100) for '" + plain + "'.");
}

TEST_F(SignatureVerification, RefusesThroughTheAccessLogWithoutThrowing) {
    const auto plain = (folder_ / "plain.dll").string();
    tnw::test::writeFile(plain, "MZ not signed");
    EXPECT_FALSE(verifySignature(plain));
    EXPECT_FALSE(verifySignature((folder_ / "missing.dll").string()));
}

} // namespace
} // namespace plexmill::session
