#include "tests/support/child_process.hpp"
#include "tests/support/test_pki.hpp"
#include "util/code_signature_writer.hpp"
#include "util/exception.hpp"

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace tnw::util {
namespace {

using test::Bytes;
using test::SignerSpec;
using test::TestPki;

const SignerSpec kSigner{"writer",
                         "11223344556677889900aabbccddeeff",
                         "root",
                         "20200101000000Z",
                         "20400101000000Z",
                         "codeSigning",
                         "rsa"};
const SignerSpec kOther{"writer-other", "11223344556677889900aabbccddee00"};

Bytes text(const std::string& value) {
    return {value.begin(), value.end()};
}

class CodeSignatureWriter : public testing::Test {
protected:
    void SetUp() override {
        TestPki::shared().issue(kSigner);
        TestPki::shared().issue(kOther);
    }

    static std::string pem(const std::string& name) {
        return test::readText(TestPki::shared().path(name));
    }

    // The message of the Exception that `work` raises; empty when it raises none.
    template <class Work> static std::string failureOf(Work work) {
        try {
            work();
        } catch (const Exception& failure) {
            return failure.getMessage();
        }
        return "";
    }

    static std::size_t count(const std::string& haystack, const std::string& needle) {
        std::size_t found = 0;
        for (auto at = haystack.find(needle); at != std::string::npos;
             at = haystack.find(needle, at + 1)) {
            ++found;
        }
        return found;
    }

    std::string printed(const Bytes& signature) {
        test::writeBytes(folder_ / "printed.p7", signature);
        return test::openssl({"cms",
                              "-cmsout",
                              "-print",
                              "-inform",
                              "DER",
                              "-in",
                              (folder_ / "printed.p7").string()});
    }

    test::TempFolder folder_{"plexmill-writer"};
};

TEST_F(CodeSignatureWriter, RefusesKeysAndCertificatesThatCannotSign) {
    const Bytes content = text("kernel");
    EXPECT_NE(
        failureOf([&] { signDetached(content, pem("writer-other.key"), pem("writer.pem"), ""); }),
        "");
    test::openssl({"pkey",
                   "-in",
                   TestPki::shared().path("writer.key").string(),
                   "-aes256",
                   "-passout",
                   "pass:secret",
                   "-out",
                   (folder_ / "encrypted.key").string()});
    // Refused at once, never prompted for.
    EXPECT_EQ(failureOf([&] {
                  signDetached(
                      content, test::readText(folder_ / "encrypted.key"), pem("writer.pem"), "");
              }).find("cannot read the private key (PEM, unencrypted)"),
              0U);
    EXPECT_EQ(failureOf([&] {
                  signDetached(content, pem("writer.key"), "no certificate", "");
              }).find("cannot read the certificate (PEM)"),
              0U);
    EXPECT_EQ(
        failureOf([&] { signDetached(content, pem("writer.key"), pem("writer.pem"), "junk"); }),
        "no certificate in the chain (PEM)");
}

TEST_F(CodeSignatureWriter, RequestsAStampOnTheSignatureValueWithTheAuthorityCertificate) {
    const auto& pki = TestPki::shared();
    const Bytes signature = test::detachedSignature(text("kernel"), kSigner.name, {});
    const Bytes request = timeStampRequest(signature);
    test::writeBytes(folder_ / "request.tsq", request);
    const auto shown =
        test::openssl({"ts", "-query", "-in", (folder_ / "request.tsq").string(), "-text"});
    EXPECT_NE(shown.find("Hash Algorithm: sha256"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Certificate required: yes"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Nonce: 0x"), std::string::npos) << shown;
    EXPECT_NE(timeStampRequest(signature), request); // a fresh nonce each time

    // The signature value, found by openssl: without unsigned attributes it is the last
    // OCTET STRING of the DER.
    test::writeBytes(folder_ / "signature.p7", signature);
    const auto parsed =
        test::openssl({"asn1parse", "-inform", "DER", "-in", (folder_ / "signature.p7").string()});
    const auto dump = parsed.rfind("[HEX DUMP]:");
    ASSERT_NE(dump, std::string::npos);
    std::istringstream hexText(parsed.substr(dump + 11));
    std::string hexValue;
    hexText >> hexValue;
    Bytes value;
    for (std::size_t i = 0; i + 1 < hexValue.size(); i += 2) {
        value.push_back(static_cast<std::uint8_t>(std::stoi(hexValue.substr(i, 2), nullptr, 16)));
    }
    EXPECT_EQ(value.size(), 256U); // RSA-2048
    test::writeBytes(folder_ / "value.bin", value);
    test::writeBytes(folder_ / "reply.tsr", test::opensslTimeStampReply(request));
    EXPECT_NE(test::openssl({"ts",
                             "-verify",
                             "-data",
                             (folder_ / "value.bin").string(),
                             "-in",
                             (folder_ / "reply.tsr").string(),
                             "-CAfile",
                             pki.path("root.pem").string()})
                  .find("Verification: OK"),
              std::string::npos);
}

TEST_F(CodeSignatureWriter, TakesOnlyAGrantedTokenForThisSignature) {
    const auto& pki = TestPki::shared();
    const Bytes signature = test::detachedSignature(text("kernel"), kSigner.name, {});
    const Bytes other = test::detachedSignature(text("other"), kSigner.name, {});

    const Bytes token =
        timeStampToken(test::opensslTimeStampReply(timeStampRequest(signature)), signature);
    EXPECT_FALSE(token.empty());

    EXPECT_EQ(failureOf([&] {
                  timeStampToken(test::opensslTimeStampReply(timeStampRequest(other)), signature);
              }),
              "the time stamp is for another signature");

    // The local authority hashes only with the SHA-2 family; a SHA-1 request is rejected.
    test::writeFile(folder_ / "data.txt", "data");
    test::openssl({"ts",
                   "-query",
                   "-data",
                   (folder_ / "data.txt").string(),
                   "-sha1",
                   "-cert",
                   "-out",
                   (folder_ / "sha1.tsq").string()});
    const auto refusal = failureOf([&] {
        timeStampToken(test::opensslTimeStampReply(test::readBytes(folder_ / "sha1.tsq")),
                       signature);
    });
    EXPECT_EQ(refusal.find("the time-stamp authority refused the request (status 2)"), 0U)
        << refusal;

    // A bare token, as `openssl ts -reply -token_out` writes it, serves as well.
    test::writeBytes(folder_ / "request.tsq", timeStampRequest(signature));
    test::openssl({"ts",
                   "-reply",
                   "-config",
                   pki.path("tsa.cnf").string(),
                   "-queryfile",
                   (folder_ / "request.tsq").string(),
                   "-token_out",
                   "-out",
                   (folder_ / "token.der").string()});
    const Bytes bare = test::readBytes(folder_ / "token.der");
    EXPECT_EQ(timeStampToken(bare, signature), bare);

    EXPECT_EQ(failureOf([&] {
                  timeStampToken(text("garbage"), signature);
              }).find("neither a time-stamp reply nor a time-stamp token"),
              0U);
    EXPECT_EQ(failureOf([&] { timeStampToken(token, text("garbage")); }).find("not a CMS"), 0U);
}

TEST_F(CodeSignatureWriter, AttachesExactlyOneTimeStamp) {
    const Bytes signature = test::detachedSignature(text("kernel"), kSigner.name, {});
    const auto stamp = [&] {
        return timeStampToken(test::opensslTimeStampReply(timeStampRequest(signature)), signature);
    };
    const Bytes once = attachTimeStamp(signature, stamp());
    const Bytes twice = attachTimeStamp(once, stamp());
    EXPECT_EQ(count(printed(once), "id-smime-aa-timeStampToken"), 1U);
    EXPECT_EQ(count(printed(twice), "id-smime-aa-timeStampToken"), 1U);
    EXPECT_EQ(failureOf([&] {
                  attachTimeStamp(signature, text("garbage"));
              }).find("not a time-stamp token"),
              0U);
}

} // namespace
} // namespace tnw::util
