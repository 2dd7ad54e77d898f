#include "util/code_signature.hpp"

#include "util/code_signature_format.hpp"
#include "util/handle.hpp"
#include "util/openssl_ptr.hpp"
#include "util/windows_error.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <initializer_list>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <optional>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace tnw::util {

namespace {

// The trust provider's error numbers that callers and logs see.
namespace trust {
constexpr std::uint32_t kNoSignature = 0x800B0100;
constexpr std::uint32_t kSubjectFormUnknown = 0x800B0003;
constexpr std::uint32_t kSubjectNotTrusted = 0x800B0004;
constexpr std::uint32_t kNoSignerCertificate = 0x80096002;
constexpr std::uint32_t kCertificateSignature = 0x80096004;
constexpr std::uint32_t kBadDigest = 0x80096010;
constexpr std::uint32_t kBasicConstraints = 0x80096019;
constexpr std::uint32_t kExpired = 0x800B0101;
constexpr std::uint32_t kCriticalExtension = 0x800B0105;
constexpr std::uint32_t kUntrustedRoot = 0x800B0109;
constexpr std::uint32_t kChaining = 0x800B010A;
constexpr std::uint32_t kWrongUsage = 0x800B0110;
constexpr std::uint32_t kExplicitDistrust = 0x800B0111;
constexpr std::uint32_t kUnexpectedEndOfData = 0x80093102;
constexpr std::uint32_t kBadTag = 0x8009310B;
constexpr std::uint32_t kFileTooLarge = 223;
} // namespace trust

std::string errorNumber(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(code));
    return text;
}

// Fills %1, %2 in one pass, so a path that holds "%2" stays as it is.
std::string fill(std::string_view pattern, std::initializer_list<std::string_view> values) {
    std::string text;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const std::size_t number = i + 1 < pattern.size() && pattern[i] == '%'
                                       ? static_cast<std::size_t>(pattern[i + 1] - '0')
                                       : 0;
        if (number >= 1 && number <= values.size()) {
            text += values.begin()[number - 1];
            ++i;
        } else {
            text += pattern[i];
        }
    }
    return text;
}

SignatureVerdict refuse(std::string reason) {
    return {false, std::move(reason)};
}

SignatureVerdict noSignature(std::uint32_t code, const std::string& path) {
    return refuse(fill("No signature (%1) for '%2'.", {errorNumber(code), path}));
}

SignatureVerdict invalidSignature(std::uint32_t code, const std::string& path) {
    return refuse(fill("Invalid signature (%1) for '%2'.", {errorNumber(code), path}));
}

// The whole file, read through a close-on-exec descriptor (a kernel started meanwhile must not
// inherit it), without blocking on a pipe placed where a file belongs; the Windows error number
// on failure.
std::uint32_t readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    Handle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.isValid()) {
        return lastError();
    }
    std::uint8_t buffer[65536];
    for (;;) {
        const ssize_t count = ::read(file.fd(), buffer, sizeof buffer);
        if (count == 0) {
            return 0;
        }
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return lastError();
        }
        bytes.insert(bytes.end(), buffer, buffer + count);
    }
}

// The roots of the system certificate store, read afresh so that a changed store counts.
X509StorePtr trustedStore() {
    X509StorePtr store(X509_STORE_new());
    if (store && X509_STORE_set_default_paths(store.get()) != 1) {
        store.reset();
    }
    return store;
}

std::optional<std::time_t> toTimeT(const ASN1_TIME* time) {
    std::tm fields{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &fields) != 1) {
        return std::nullopt;
    }
    return ::timegm(&fields);
}

std::span<const std::uint8_t> bytesOf(const ASN1_STRING* string) {
    return {ASN1_STRING_get0_data(string), static_cast<std::size_t>(ASN1_STRING_length(string))};
}

// The time of the signer's time-stamp token when the token is sound: signed by an authority
// whose chain reaches a trusted root at that time, for the hash of this signer's signature.
std::optional<std::time_t> verifiedTimeStamp(CMS_SignerInfo* signer) {
    const int index = CMS_unsigned_get_attr_by_NID(signer, NID_id_smime_aa_timeStampToken, -1);
    if (index < 0) {
        return std::nullopt;
    }
    const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(CMS_unsigned_get_attr(signer, index), 0);
    if (value == nullptr || value->type != V_ASN1_SEQUENCE) {
        return std::nullopt;
    }
    const auto encoded = bytesOf(value->value.sequence);
    const unsigned char* cursor = encoded.data();
    Pkcs7Ptr token(d2i_PKCS7(nullptr, &cursor, static_cast<long>(encoded.size())));
    if (!token) {
        return std::nullopt;
    }
    TsTstInfoPtr info(PKCS7_to_TS_TST_INFO(token.get()));
    if (!info) {
        return std::nullopt;
    }
    const auto time = toTimeT(TS_TST_INFO_get_time(info.get()));
    auto store = trustedStore();
    BioPtr signature(BIO_new(BIO_s_mem()));
    TsVerifyCtxPtr context(TS_VERIFY_CTX_new());
    if (!time || !store || !signature || !context) {
        return std::nullopt;
    }
    // The authority's certificate is judged when it signed, as the signer's is below.
    X509_VERIFY_PARAM_set_time(X509_STORE_get0_param(store.get()), *time);
    const auto signatureValue = bytesOf(CMS_SignerInfo_get0_signature(signer));
    if (BIO_write(
            signature.get(), signatureValue.data(), static_cast<int>(signatureValue.size())) !=
        static_cast<int>(signatureValue.size())) {
        return std::nullopt;
    }
    TS_VERIFY_CTX_set_flags(context.get(), TS_VFY_VERSION | TS_VFY_SIGNATURE | TS_VFY_DATA);
    TS_VERIFY_CTX_set_data(context.get(), signature.release());
    TS_VERIFY_CTX_set_store(context.get(), store.release());
    if (TS_RESP_verify_token(context.get(), token.get()) != 1) {
        return std::nullopt;
    }
    return time;
}

std::uint32_t trustError(int verifyError) {
    switch (verifyError) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return trust::kExpired;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
        return trust::kUntrustedRoot;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return trust::kChaining;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
        return trust::kCertificateSignature;
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
    case X509_V_ERR_INVALID_NON_CA:
        return trust::kBasicConstraints;
    case X509_V_ERR_INVALID_PURPOSE:
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
        return trust::kWrongUsage;
    case X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION:
        return trust::kCriticalExtension;
    case X509_V_ERR_CERT_REJECTED:
        return trust::kExplicitDistrust;
    default:
        return trust::kSubjectNotTrusted;
    }
}

// A code-signing certificate may restrict its key to other uses; it must not.
bool allowsCodeSigning(X509* certificate) {
    const std::uint32_t flags = X509_get_extension_flags(certificate);
    if ((flags & EXFLAG_XKUSAGE) != 0 &&
        (X509_get_extended_key_usage(certificate) & (XKU_CODE_SIGN | XKU_ANYEKU)) == 0) {
        return false;
    }
    return (flags & EXFLAG_KUSAGE) == 0 ||
           (X509_get_key_usage(certificate) & KU_DIGITAL_SIGNATURE) != 0;
}

// 0 when the signer's chain reaches a trusted root at `at` (now when empty).
std::uint32_t verifyChain(X509* signer, STACK_OF(X509) * untrusted, std::optional<std::time_t> at) {
    auto store = trustedStore();
    X509StoreCtxPtr context(X509_STORE_CTX_new());
    if (!store || !context ||
        X509_STORE_CTX_init(context.get(), store.get(), signer, untrusted) != 1) {
        return trust::kSubjectNotTrusted;
    }
    // The chain is judged for any purpose; code signing is checked on the signer below, as
    // OpenSSL has no purpose for it.
    X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_ANY);
    if (at) {
        X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(context.get()), *at);
    }
    if (X509_verify_cert(context.get()) != 1) {
        return trustError(X509_STORE_CTX_get_error(context.get()));
    }
    return allowsCodeSigning(signer) ? 0 : trust::kWrongUsage;
}

// The DER content bytes of the serial number, as they are displayed (a leading zero byte that
// keeps a number positive included).
std::vector<std::uint8_t> serialBytes(X509* certificate) {
    unsigned char* encoded = nullptr;
    const int size = i2d_ASN1_INTEGER(X509_get0_serialNumber(certificate), &encoded);
    if (size <= 0) {
        return {};
    }
    const OpenSslBytesPtr owner(encoded);
    const unsigned char* content = encoded;
    long length = 0;
    int tag = 0;
    int objectClass = 0;
    if ((ASN1_get_object(&content, &length, &tag, &objectClass, size) & 0x80) != 0) {
        return {};
    }
    return {content, content + length};
}

SignatureVerdict judge(const std::string& path,
                       std::span<const std::uint8_t> file,
                       std::span<const std::vector<std::uint8_t>> allowedSerials) {
    if (file.size() > static_cast<std::size_t>(INT_MAX)) {
        // More than OpenSSL can hash in one piece, and far more than any kernel.
        return invalidSignature(trust::kFileTooLarge, path);
    }
    const auto found = findAppendedSignature(file);
    switch (found.status) {
    case AppendedSignature::Status::Missing:
        return noSignature(trust::kNoSignature, path);
    case AppendedSignature::Status::NotPkcs7:
        return noSignature(trust::kSubjectFormUnknown, path);
    case AppendedSignature::Status::Truncated:
        return invalidSignature(trust::kUnexpectedEndOfData, path);
    case AppendedSignature::Status::Found:
        break;
    }

    const unsigned char* cursor = found.signature.data();
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(found.signature.size())));
    if (!cms || cursor != found.signature.data() + found.signature.size()) {
        return invalidSignature(trust::kBadTag, path);
    }
    if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) {
        return refuse(fill("Signature not supported for '%1'.", {path}));
    }
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms.get());
    if (sk_CMS_SignerInfo_num(signers) <= 0) {
        return refuse(fill("Signature not supported '%1'.", {path}));
    }
    CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(signers, 0);
    CMS_set1_signers_certs(cms.get(), nullptr, 0);
    X509* certificate = nullptr;
    CMS_SignerInfo_get0_algs(signer, nullptr, &certificate, nullptr, nullptr);
    if (certificate == nullptr) {
        return invalidSignature(trust::kNoSignerCertificate, path);
    }

    BioPtr content(BIO_new_mem_buf(found.content.data(), static_cast<int>(found.content.size())));
    if (!content || CMS_verify(cms.get(),
                               nullptr,
                               nullptr,
                               content.get(),
                               nullptr,
                               CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1) {
        return invalidSignature(trust::kBadDigest, path);
    }

    const auto stamped = verifiedTimeStamp(signer);
    const X509StackPtr untrusted(CMS_get1_certs(cms.get()));
    if (const auto failure = verifyChain(certificate, untrusted.get(), stamped); failure != 0) {
        return invalidSignature(failure, path);
    }
    if (!stamped) {
        return refuse(fill("Timestamp missing for '%1'.", {path}));
    }
    const auto serial = serialBytes(certificate);
    if (std::find(allowedSerials.begin(), allowedSerials.end(), serial) == allowedSerials.end()) {
        return refuse(fill("Signer not allowed for '%1'.", {path}));
    }
    return {true, {}};
}

bool certificateFileLoads(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (readWholeFile(path, bytes) != 0 || bytes.empty()) {
        return false;
    }
    BioPtr text(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    const X509Ptr first(text ? PEM_read_bio_X509_AUX(text.get(), nullptr, nullptr, nullptr)
                             : nullptr);
    ERR_clear_error();
    return first != nullptr;
}

std::string defaultLocation(const char* variable, const char* fallback) {
    const char* value = ::secure_getenv(variable);
    return value != nullptr ? value : fallback;
}

} // namespace

SignatureVerdict verifyCodeSignature(const std::string& path,
                                     std::span<const std::vector<std::uint8_t>> allowedSerials) {
    std::vector<std::uint8_t> file;
    if (const auto failure = readWholeFile(path, file); failure != 0) {
        return invalidSignature(failure, path);
    }
    // OpenSSL reports through a per-thread queue; leave nothing there for the next caller.
    ERR_clear_error();
    auto verdict = judge(path, file, allowedSerials);
    ERR_clear_error();
    return verdict;
}

bool hasRootStore() {
    if (certificateFileLoads(
            defaultLocation(X509_get_default_cert_file_env(), X509_get_default_cert_file()))) {
        return true;
    }
    const std::string folders =
        defaultLocation(X509_get_default_cert_dir_env(), X509_get_default_cert_dir());
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        std::error_code failed;
        std::filesystem::directory_iterator folder(folders.substr(start, end - start), failed);
        if (end > start && !failed) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

} // namespace tnw::util
