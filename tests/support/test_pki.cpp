#include "tests/support/test_pki.hpp"

#include "tests/support/child_process.hpp"
#include "util/code_signature_format.hpp"
#include "util/code_signature_writer.hpp"
#include "util/openssl_ptr.hpp"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <openssl/pem.h>
#include <openssl/ts.h>
#include <stdexcept>

namespace tnw::test {

namespace {

const std::string kScript = std::string(PLEXMILL_SOURCE_DIR) + "/tests/support/make_pki.sh";

void runChecked(const std::vector<std::string>& argv) {
    const auto result = run(argv);
    if (result.exitCode != 0) {
        throw std::runtime_error(argv[0] + " failed: " + result.output + result.errors);
    }
}

int fixedTime(TS_RESP_CTX*, void* at, long* seconds, long* microseconds) {
    *seconds = static_cast<long>(*static_cast<const std::time_t*>(at));
    *microseconds = 0;
    return 1;
}

} // namespace

TestPki& TestPki::shared() {
    static TestPki pki;
    return pki;
}

TestPki::TestPki() {
    runChecked({"bash", kScript, folder_.path().string()});
    std::filesystem::create_directory(path("no-certificates"));
}

void TestPki::issue(const SignerSpec& signer) {
    const std::lock_guard lock(mutex_);
    if (!issued_.insert(signer.name).second) {
        return;
    }
    runChecked({"bash",
                kScript,
                folder_.path().string(),
                "signer",
                signer.name,
                signer.serial,
                signer.issuer,
                signer.notBefore,
                signer.notAfter,
                signer.usage,
                signer.key,
                signer.keyUsage});
}

// Tests call it from their main thread before they start any other.
// NOLINTBEGIN(concurrency-mt-unsafe)
void TestPki::trustRoot() const {
    ::setenv("SSL_CERT_FILE", path("root.pem").c_str(), 1);
    ::setenv("SSL_CERT_DIR", path("no-certificates").c_str(), 1);
}
// NOLINTEND(concurrency-mt-unsafe)

Bytes readBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    writeFile(path, std::string(bytes.begin(), bytes.end()));
}

std::string openssl(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"openssl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const auto result = run(argv);
    if (result.exitCode != 0) {
        throw std::runtime_error("openssl " + arguments.front() + " failed: " + result.errors);
    }
    return result.output + result.errors;
}

Bytes opensslTimeStampReply(std::span<const std::uint8_t> request, const std::string& authority) {
    const auto& pki = TestPki::shared();
    const TempFolder folder("plexmill-tsq");
    writeBytes(folder / "request.tsq", request);
    openssl({"ts",
             "-reply",
             "-config",
             pki.path(authority + ".cnf").string(),
             "-queryfile",
             (folder / "request.tsq").string(),
             "-out",
             (folder / "reply.tsr").string()});
    return readBytes(folder / "reply.tsr");
}

Bytes timeStampReplyAt(std::span<const std::uint8_t> request,
                       const std::string& authority,
                       std::time_t at) {
    const auto& pki = TestPki::shared();
    const auto certificateText = readBytes(pki.path(authority + ".pem"));
    const auto keyText = readBytes(pki.path(authority + ".key"));
    util::BioPtr certificateBio(
        BIO_new_mem_buf(certificateText.data(), static_cast<int>(certificateText.size())));
    util::BioPtr keyBio(BIO_new_mem_buf(keyText.data(), static_cast<int>(keyText.size())));
    const util::X509Ptr certificate(
        PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr));
    const util::EvpPkeyPtr key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    const util::TsRespCtxPtr context(TS_RESP_CTX_new());
    const util::OpenSslPtr<ASN1_OBJECT, &ASN1_OBJECT_free> policy(
        OBJ_txt2obj("1.3.6.1.4.1.55555.1", 1));
    util::BioPtr query(BIO_new_mem_buf(request.data(), static_cast<int>(request.size())));
    if (!certificate || !key || !context || !policy || !query ||
        TS_RESP_CTX_set_signer_cert(context.get(), certificate.get()) != 1 ||
        TS_RESP_CTX_set_signer_key(context.get(), key.get()) != 1 ||
        TS_RESP_CTX_set_def_policy(context.get(), policy.get()) != 1 ||
        TS_RESP_CTX_add_md(context.get(), EVP_sha256()) != 1 ||
        TS_RESP_CTX_set_signer_digest(context.get(), EVP_sha256()) != 1) {
        throw std::runtime_error("cannot set up the time-stamp authority " + authority);
    }
    TS_RESP_CTX_set_time_cb(context.get(), &fixedTime, &at);
    const util::TsRespPtr reply(TS_RESP_create_response(context.get(), query.get()));
    unsigned char* der = nullptr;
    const int size = reply ? i2d_TS_RESP(reply.get(), &der) : -1;
    if (size <= 0) {
        throw std::runtime_error("the time-stamp authority " + authority + " made no reply");
    }
    const util::OpenSslBytesPtr owner(der);
    return {der, der + size};
}

Bytes detachedSignature(std::span<const std::uint8_t> content,
                        const std::string& signer,
                        const std::vector<std::string>& chain) {
    const auto& pki = TestPki::shared();
    std::string chainText;
    for (const auto& name : chain) {
        chainText += readText(pki.path(name + ".pem"));
    }
    return util::signDetached(content,
                              readText(pki.path(signer + ".key")),
                              readText(pki.path(signer + ".pem")),
                              chainText);
}

Bytes signedFile(std::span<const std::uint8_t> content,
                 const std::string& signer,
                 const std::vector<std::string>& chain,
                 const TimeStamp& stamp) {
    auto signature = detachedSignature(content, signer, chain);
    if (stamp.kind != TimeStamp::Kind::None) {
        const auto request = util::timeStampRequest(signature);
        const auto reply = stamp.kind == TimeStamp::Kind::Now
                               ? opensslTimeStampReply(request, stamp.authority)
                               : timeStampReplyAt(request, stamp.authority, stamp.at);
        signature = util::attachTimeStamp(signature, util::timeStampToken(reply, signature));
    }
    return util::appendSignature(content, signature);
}

} // namespace tnw::test
