#include "tests/support/test_pki.hpp"
#include "util/code_signature.hpp"
#include "util/code_signature_format.hpp"
#include "util/code_signature_writer.hpp"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace tnw::util {
namespace {

using test::Bytes;
using test::SignerSpec;
using test::TestPki;
using test::TimeStamp;

Bytes hex(const std::string& text) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

Bytes text(const std::string& value) {
    return {value.begin(), value.end()};
}

const SignerSpec kAllowed{"allowed", "4c6f1a2e9b3d5f7081a2b3c4d5e6f708"};
// 17 significant bytes with the high bit set: DER keeps a leading zero, 18 bytes in all.
const SignerSpec kAllowedRsa{"allowed-rsa",
                             "00c0ffee0123456789abcdef0123456789ab",
                             "root",
                             "20200101000000Z",
                             "20400101000000Z",
                             "codeSigning",
                             "rsa"};
const SignerSpec kExpired{
    "expired", "2a2a2a2a2a2a2a2a2a2a2a2a2a2a2a2a", "root", "20160101000000Z", "20170101000000Z"};
const SignerSpec kForeign{"foreign", "3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b", "other-root"};
const SignerSpec kServer{"server",
                         "4d4d4d4d4d4d4d4d4d4d4d4d4d4d4d4d",
                         "intermediate",
                         "20200101000000Z",
                         "20400101000000Z",
                         "serverAuth"};
// Allowed serials whose key usage says nothing of digital signatures, and two whose key usage
// allows them (or is not restricted at all).
const SignerSpec kEnciphermentOnly{"encipherment-only",
                                   "1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a",
                                   "intermediate",
                                   "20200101000000Z",
                                   "20400101000000Z",
                                   "codeSigning",
                                   "rsa",
                                   "critical, keyEncipherment"};
const SignerSpec kNonRepudiationOnly{"non-repudiation-only",
                                     "1b1b1b1b1b1b1b1b1b1b1b1b1b1b1b1b",
                                     "intermediate",
                                     "20200101000000Z",
                                     "20400101000000Z",
                                     "codeSigning",
                                     "ec",
                                     "critical, nonRepudiation"};
const SignerSpec kWithoutKeyUsage{"without-key-usage",
                                  "1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c",
                                  "intermediate",
                                  "20200101000000Z",
                                  "20400101000000Z",
                                  "codeSigning",
                                  "ec",
                                  "none"};
const SignerSpec kSigningAmongOthers{"signing-among-others",
                                     "1d1d1d1d1d1d1d1d1d1d1d1d1d1d1d1d",
                                     "intermediate",
                                     "20200101000000Z",
                                     "20400101000000Z",
                                     "codeSigning",
                                     "rsa",
                                     "nonRepudiation, digitalSignature, keyEncipherment"};
const SignerSpec kOutsider{"outsider", "5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e5e"};
// The allowed serial read backwards, and cut short by one byte: neither is the allowed one.
const SignerSpec kReversed{"reversed", "08f7e6d5c4b3a281705f3d9b2e1a6f4c"};
const SignerSpec kPrefix{"prefix", "4c6f1a2e9b3d5f7081a2b3c4d5e6f7"};

const std::vector<Bytes> kAllowedSerials = {
    hex("4c6f1a2e9b3d5f7081a2b3c4d5e6f708"),
    hex("00c0ffee0123456789abcdef0123456789ab"),
    hex("2a2a2a2a2a2a2a2a2a2a2a2a2a2a2a2a"),
    hex("3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b3b"),
    hex("4d4d4d4d4d4d4d4d4d4d4d4d4d4d4d4d"),
    hex("1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a1a"),
    hex("1b1b1b1b1b1b1b1b1b1b1b1b1b1b1b1b"),
    hex("1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c1c"),
    hex("1d1d1d1d1d1d1d1d1d1d1d1d1d1d1d1d"),
};

// 2016-06-01 inside the expired signer's year; 2019-06-01 before the other signers; 2014-06-01
// before the time-stamp authority's certificate.
constexpr std::time_t k2016 = 1464739200;
constexpr std::time_t k2019 = 1559347200;
constexpr std::time_t k2014 = 1401580800;

class CodeSignature : public testing::Test {
protected:
    void SetUp() override { TestPki::shared().trustRoot(); }

    static Bytes content() {
        Bytes bytes = text("\x7f"
                           "ELF kernel image ");
        for (int i = 0; i < 5000; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(i * 7));
        }
        return bytes;
    }

    static Bytes sign(const SignerSpec& signer,
                      const std::vector<std::string>& chain = {"intermediate"},
                      const TimeStamp& stamp = {}) {
        TestPki::shared().issue(signer);
        return test::signedFile(content(), signer.name, chain, stamp);
    }

    std::string write(const Bytes& bytes, const std::string& name = "millcore.dll") {
        const auto path = folder_ / name;
        test::writeBytes(path, bytes);
        return path.string();
    }

    static SignatureVerdict verify(const std::string& path) {
        return verifyCodeSignature(path, kAllowedSerials);
    }

    void expectRefused(const Bytes& file, const std::string& reasonPattern) {
        const auto path = write(file);
        const auto verdict = verify(path);
        EXPECT_FALSE(verdict.accepted);
        std::string expected = reasonPattern;
        expected.replace(expected.find("PATH"), 4, path);
        EXPECT_EQ(verdict.reason, expected);
    }

    test::TempFolder folder_{"plexmill-signature"};
};

TEST(CodeSignatureFormat, AppendsTheLayoutOfSignedKernelModules) {
    const Bytes file = appendSignature(text("ab"), Bytes{1, 2, 3});
    const Bytes expected =
        text(std::string("ab\x01\x02\x03", 5) + std::string("\0\0\x02\0\0\0\0\0\0\0\0\x03", 12) +
             "~Module signature appended~\n");
    EXPECT_EQ(file, expected);
    const auto found = findAppendedSignature(file);
    ASSERT_EQ(found.status, AppendedSignature::Status::Found);
    EXPECT_EQ(Bytes(found.content.begin(), found.content.end()), text("ab"));
    EXPECT_EQ(Bytes(found.signature.begin(), found.signature.end()), (Bytes{1, 2, 3}));
}

TEST(CodeSignatureFormat, FindsASignatureOnlyBehindAWellFormedTrailer) {
    using Status = AppendedSignature::Status;
    const std::string magic = "~Module signature appended~\n";
    const auto info = [](char idType, std::uint32_t length) {
        std::string block(12, '\0');
        block[2] = idType;
        for (int i = 0; i < 4; ++i) {
            block[8 + i] = static_cast<char>(length >> (8 * (3 - i)));
        }
        return block;
    };
    struct Case {
        const char* name;
        std::string file;
        Status status;
        std::size_t contentSize;
    };
    const Case cases[] = {
        {"empty file", "", Status::Missing, 0},
        {"magic without information block", "xy" + magic, Status::Missing, 0},
        {"magic missing its newline", "abc" + info(2, 1) + magic.substr(0, 27), Status::Missing, 0},
        {"raw key signature", "abc" + info(1, 1) + magic, Status::NotPkcs7, 0},
        {"length zero", "abc" + info(2, 0) + magic, Status::Truncated, 0},
        {"length past the start", "abc" + info(2, 4) + magic, Status::Truncated, 0},
        {"length above 2^31", "abc" + info(2, 0x80000001U) + magic, Status::Truncated, 0},
        {"signature is the whole file", "abc" + info(2, 3) + magic, Status::Found, 0},
        {"one byte of content", "abc" + info(2, 2) + magic, Status::Found, 1},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.name);
        const Bytes file = text(item.file);
        const auto found = findAppendedSignature(file);
        EXPECT_EQ(found.status, item.status);
        if (item.status == Status::Found) {
            EXPECT_EQ(found.content.size(), item.contentSize);
            EXPECT_EQ(found.signature.size(), 3 - item.contentSize);
        }
    }
}

TEST_F(CodeSignature, AcceptsATimeStampedSignatureFromAnAllowedSigner) {
    struct Case {
        const char* name;
        SignerSpec signer;
        std::vector<std::string> chain;
    };
    const Case cases[] = {
        {"EC key through an intermediate", kAllowed, {"intermediate"}},
        {"RSA key under the root, 18-byte serial", kAllowedRsa, {}},
        {"no key usage extension", kWithoutKeyUsage, {"intermediate"}},
        {"digital signature among other key usages", kSigningAmongOthers, {"intermediate"}},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.name);
        const auto verdict = verify(write(sign(item.signer, item.chain)));
        EXPECT_TRUE(verdict.accepted) << verdict.reason;
        EXPECT_EQ(verdict.reason, "");
    }
}

TEST_F(CodeSignature, RefusesAFileWithoutSignature) {
    expectRefused(content(), "No signature (0x800b0100) for 'PATH'.");
    expectRefused(Bytes{}, "No signature (0x800b0100) for 'PATH'.");
}

TEST_F(CodeSignature, RefusesAFileThatCannotBeReadWithItsErrorNumber) {
    const auto path = (folder_ / "missing.dll").string();
    EXPECT_EQ(verify(path).reason, "Invalid signature (0x00000002) for '" + path + "'.");
    EXPECT_EQ(verify(folder_.path().string()).accepted, false);
    // A pipe with nobody writing must not hold the verification up.
    const auto pipe = (folder_ / "pipe.dll").string();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(verify(pipe).reason, "No signature (0x800b0100) for '" + pipe + "'.");
}

TEST_F(CodeSignature, RefusesContentChangedAfterSigningAsBadDigest) {
    const Bytes good = sign(kAllowed);
    const std::size_t contentSize = content().size();
    struct Case {
        const char* name;
        std::size_t offset;
    };
    const Case cases[] = {{"first byte", 0}, {"middle", 2500}, {"last byte", contentSize - 1}};
    for (const auto& item : cases) {
        SCOPED_TRACE(item.name);
        Bytes changed = good;
        changed[item.offset] ^= 0x01;
        expectRefused(changed, "Invalid signature (0x80096010) for 'PATH'.");
    }
    Bytes longer = good;
    longer.insert(longer.begin() + 10, 0x00);
    expectRefused(longer, "Invalid signature (0x80096010) for 'PATH'.");
}

TEST_F(CodeSignature, RefusesASignatureThatDoesNotParseOrDoesNotVerify) {
    TestPki::shared().issue(kAllowedRsa);
    const Bytes body = content();
    const Bytes signature = test::detachedSignature(body, kAllowedRsa.name, {});
    const auto withSignature = [&](Bytes der) { return appendSignature(body, der); };

    Bytes badTag = signature;
    badTag[0] = 0x04; // an OCTET STRING where the ContentInfo SEQUENCE belongs
    expectRefused(withSignature(badTag), "Invalid signature (0x8009310b) for 'PATH'.");

    Bytes trailing = signature;
    trailing.push_back(0x00);
    expectRefused(withSignature(trailing), "Invalid signature (0x8009310b) for 'PATH'.");

    Bytes cut(signature.begin(), signature.end() - 1);
    expectRefused(withSignature(cut), "Invalid signature (0x8009310b) for 'PATH'.");

    // Without attributes after it, the DER ends with the RSA signature value itself.
    Bytes forged = signature;
    forged.back() ^= 0x01;
    expectRefused(withSignature(forged), "Invalid signature (0x80096010) for 'PATH'.");

    Bytes overlong = withSignature(signature);
    overlong[overlong.size() - 28 - 4] = 0x7f; // length far past the start of the file
    expectRefused(overlong, "Invalid signature (0x80093102) for 'PATH'.");

    Bytes rawKey = withSignature(signature);
    rawKey[rawKey.size() - 28 - 10] = 0x01; // id_type: not PKCS #7
    expectRefused(rawKey, "No signature (0x800b0003) for 'PATH'.");
}

TEST_F(CodeSignature, RefusesCmsThatIsNoSignatureOrHasNoSigner) {
    const auto& pki = TestPki::shared();
    const auto certificatesOnly = folder_ / "certificates.p7";
    test::openssl({"crl2pkcs7",
                   "-nocrl",
                   "-certfile",
                   pki.path("root.pem").string(),
                   "-outform",
                   "DER",
                   "-out",
                   certificatesOnly.string()});
    expectRefused(appendSignature(content(), test::readBytes(certificatesOnly)),
                  "Signature not supported 'PATH'.");

    const auto data = folder_ / "data.cms";
    test::writeFile(folder_ / "plain.txt", "plain");
    test::openssl({"cms",
                   "-data_create",
                   "-in",
                   (folder_ / "plain.txt").string(),
                   "-outform",
                   "DER",
                   "-out",
                   data.string()});
    expectRefused(appendSignature(content(), test::readBytes(data)),
                  "Signature not supported for 'PATH'.");
}

TEST_F(CodeSignature, RefusesAChainThatDoesNotReachATrustedRoot) {
    expectRefused(sign(kForeign, {"other-root"}), "Invalid signature (0x800b0109) for 'PATH'.");
    expectRefused(sign(kForeign, {}), "Invalid signature (0x800b010a) for 'PATH'.");
    expectRefused(sign(kAllowed, {}), "Invalid signature (0x800b010a) for 'PATH'.");
}

TEST_F(CodeSignature, RefusesACertificateThatIsNotForCodeSigning) {
    // Every signer here has an allowed serial number: only its usage stands in the way.
    for (const auto& signer : {kServer, kEnciphermentOnly, kNonRepudiationOnly}) {
        SCOPED_TRACE(signer.name);
        expectRefused(sign(signer), "Invalid signature (0x800b0110) for 'PATH'.");
    }
}

TEST_F(CodeSignature, RefusesASignatureWithoutASoundTimeStamp) {
    TestPki::shared().issue(kAllowed);
    expectRefused(sign(kAllowed, {"intermediate"}, {TimeStamp::Kind::None}),
                  "Timestamp missing for 'PATH'.");
    expectRefused(sign(kAllowed, {"intermediate"}, {TimeStamp::Kind::Now, 0, "other-tsa"}),
                  "Timestamp missing for 'PATH'.");
    expectRefused(sign(kAllowed, {"intermediate"}, {TimeStamp::Kind::At, k2014, "tsa"}),
                  "Timestamp missing for 'PATH'.");

    const Bytes body = content();
    const Bytes signature = test::detachedSignature(body, kAllowed.name);
    const Bytes other = test::detachedSignature(text("another file"), kAllowed.name);
    const Bytes tokenOfOther =
        timeStampToken(test::opensslTimeStampReply(timeStampRequest(other)), other);
    expectRefused(appendSignature(body, attachTimeStamp(signature, tokenOfOther)),
                  "Timestamp missing for 'PATH'.");
    // A well-formed PKCS #7 that is no time-stamp token.
    expectRefused(appendSignature(body, attachTimeStamp(signature, other)),
                  "Timestamp missing for 'PATH'.");
}

TEST_F(CodeSignature, RefusesASignerWhoseSerialIsNotAllowed) {
    for (const auto& signer : {kOutsider, kReversed, kPrefix}) {
        SCOPED_TRACE(signer.name);
        expectRefused(sign(signer), "Signer not allowed for 'PATH'.");
    }
}

TEST_F(CodeSignature, JudgesCertificatesAtTheTimeOfTheTimeStamp) {
    const auto stampedIn2016 = sign(kExpired, {}, {TimeStamp::Kind::At, k2016, "tsa"});
    const auto verdict = verify(write(stampedIn2016));
    EXPECT_TRUE(verdict.accepted) << verdict.reason;

    expectRefused(sign(kExpired, {}), "Invalid signature (0x800b0101) for 'PATH'.");
    expectRefused(sign(kExpired, {}, {TimeStamp::Kind::None}),
                  "Invalid signature (0x800b0101) for 'PATH'.");
    expectRefused(sign(kAllowed, {"intermediate"}, {TimeStamp::Kind::At, k2019, "tsa"}),
                  "Invalid signature (0x800b0101) for 'PATH'.");
}

TEST_F(CodeSignature, KeepsTheReasonPathAsGiven) {
    const auto path = write(content(), "100%1 %2.dll");
    EXPECT_EQ(verify(path).reason, "No signature (0x800b0100) for '" + path + "'.");
}

TEST_F(CodeSignature, AStandardToolVerifiesTheAppendedSignature) {
    const auto& pki = TestPki::shared();
    const Bytes file = sign(kAllowed);
    // Split by the layout alone: magic (28 bytes), information block (12), length big-endian.
    const std::size_t tail = file.size() - 28 - 12;
    const std::size_t length = (std::size_t{file[tail + 8]} << 24) |
                               (std::size_t{file[tail + 9]} << 16) |
                               (std::size_t{file[tail + 10]} << 8) | file[tail + 11];
    const auto signature = folder_ / "signature.p7";
    const auto signedContent = folder_ / "content.bin";
    test::writeBytes(signature, Bytes(file.begin() + (tail - length), file.begin() + tail));
    test::writeBytes(signedContent, Bytes(file.begin(), file.begin() + (tail - length)));
    EXPECT_EQ(test::readBytes(signedContent), content());
    const std::vector<std::string> verifyCommon = {"cms",
                                                   "-verify",
                                                   "-inform",
                                                   "DER",
                                                   "-binary",
                                                   "-in",
                                                   signature.string(),
                                                   "-content",
                                                   signedContent.string(),
                                                   "-out",
                                                   "/dev/null"};
    auto noChain = verifyCommon;
    noChain.push_back("-noverify");
    EXPECT_NE(test::openssl(noChain).find("Verification successful"), std::string::npos);
    auto fullChain = verifyCommon;
    fullChain.insert(fullChain.end(),
                     {"-CAfile", pki.path("root.pem").string(), "-purpose", "any"});
    EXPECT_NE(test::openssl(fullChain).find("Verification successful"), std::string::npos);
    const auto printed =
        test::openssl({"cms", "-cmsout", "-print", "-inform", "DER", "-in", signature.string()});
    EXPECT_NE(printed.find("id-smime-aa-timeStampToken"), std::string::npos);
}

TEST_F(CodeSignature, VerifiesOnSeveralThreadsAtOnce) {
    const auto good = write(sign(kAllowed), "good.dll");
    const auto unsigned_ = write(content(), "plain.dll");
    std::vector<std::optional<SignatureVerdict>> verdicts(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < verdicts.size(); ++i) {
        threads.emplace_back([&, i] { verdicts[i] = verify(i % 2 == 0 ? good : unsigned_); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (std::size_t i = 0; i < verdicts.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(verdicts[i]);
        EXPECT_EQ(verdicts[i]->accepted, i % 2 == 0);
    }
}

// Changes the environment of the test's main thread while no other thread runs.
// NOLINTBEGIN(concurrency-mt-unsafe)
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};
// NOLINTEND(concurrency-mt-unsafe)

TEST_F(CodeSignature, HasRootStoreWhenTheDefaultFileOrFolderOpens) {
    const auto& pki = TestPki::shared();
    const std::string missing = (folder_ / "missing").string();
    test::writeFile(folder_ / "not-a-certificate.pem", "hello\n");
    struct Case {
        const char* name;
        std::string file;
        std::string folders;
        bool expected;
    };
    const Case cases[] = {
        {"certificate file", pki.path("root.pem").string(), missing, true},
        {"neither exists", missing, missing, false},
        {"file without certificates", (folder_ / "not-a-certificate.pem").string(), missing, false},
        {"empty folder setting", missing, "", false},
        {"second folder of a list", missing, missing + ":" + folder_.path().string(), true},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.name);
        const ScopedEnvironment file("SSL_CERT_FILE", item.file);
        const ScopedEnvironment folders("SSL_CERT_DIR", item.folders);
        EXPECT_EQ(hasRootStore(), item.expected);
    }
}

TEST_F(CodeSignature, TrustsNothingWithoutARootStore) {
    const auto path = write(sign(kAllowed));
    const ScopedEnvironment file("SSL_CERT_FILE", (folder_ / "missing").string());
    EXPECT_EQ(verify(path).reason, "Invalid signature (0x800b010a) for '" + path + "'.");
}

} // namespace
} // namespace tnw::util
