// The certificates, keys and time-stamp authorities of the code-signature tests, made with the
// openssl command by tests/support/make_pki.sh once per test program, and ways to sign files
// with them.
//
//   root ─┬─ intermediate ─ signers (by default)
//         ├─ tsa            time-stamp authority (tsa.cnf for `openssl ts -reply`)
//         └─ signers issued by "root"
//   other-root (trusted by nobody) ─┬─ other-tsa
//                                   └─ signers issued by "other-root"
#pragma once

#include "tests/support/temp_folder.hpp"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace tnw::test {

using Bytes = std::vector<std::uint8_t>;

struct SignerSpec {
    std::string name;
    std::string serial; // hexadecimal, as encoded
    std::string issuer = "intermediate";
    std::string notBefore = "20200101000000Z";
    std::string notAfter = "20400101000000Z";
    std::string usage = "codeSigning";
    std::string key = "ec";
    std::string keyUsage = "critical, digitalSignature"; // "none": no keyUsage extension
};

class TestPki {
public:
    // The PKI of this test program, made on first use.
    static TestPki& shared();

    std::filesystem::path path(const std::string& file) const { return folder_.path() / file; }

    // NAME.key and NAME.pem of the signer, issued on the first request for its name.
    void issue(const SignerSpec& signer);

    // Makes root the only trusted root (SSL_CERT_FILE and SSL_CERT_DIR of this process).
    void trustRoot() const;

private:
    TestPki();
    TempFolder folder_{"plexmill-pki"};
    std::mutex mutex_;
    std::set<std::string> issued_;
};

// How signedFile time-stamps: not at all, by `openssl ts -reply` (now), or at a chosen time.
struct TimeStamp {
    enum class Kind { None, Now, At };
    Kind kind = Kind::Now;
    std::time_t at = 0;
    std::string authority = "tsa";
};

// A detached CMS signature (DER) over `content` by the signer NAME, carrying the certificates
// of `chain` (PKI names).
Bytes detachedSignature(std::span<const std::uint8_t> content,
                        const std::string& signer,
                        const std::vector<std::string>& chain = {"intermediate"});

// `content` followed by a signature of the signer NAME (key and certificate from the PKI)
// carrying the certificates of `chain` (PKI names), time-stamped as `stamp` says.
Bytes signedFile(std::span<const std::uint8_t> content,
                 const std::string& signer,
                 const std::vector<std::string>& chain = {"intermediate"},
                 const TimeStamp& stamp = {});

// The reply of `openssl ts -reply` by the authority NAME for a TimeStampReq.
Bytes opensslTimeStampReply(std::span<const std::uint8_t> request,
                            const std::string& authority = "tsa");

// A reply of the authority NAME whose token carries the time `at`, which `openssl ts -reply`
// cannot choose; made with OpenSSL's time-stamp API.
Bytes timeStampReplyAt(std::span<const std::uint8_t> request,
                       const std::string& authority,
                       std::time_t at);

Bytes readBytes(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// Runs the openssl command; throws with its output when it fails.
std::string openssl(const std::vector<std::string>& arguments);

} // namespace tnw::test
