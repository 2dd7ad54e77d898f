#include "util/code_signature_writer.hpp"

#include "util/exception.hpp"
#include "util/openssl_ptr.hpp"

#include <algorithm>
#include <climits>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <string>

namespace tnw::util {

namespace {

// `what`, followed by OpenSSL's own explanation when it has one; empties the error queue.
[[noreturn]] void fail(const std::string& what) {
    std::string message = what;
    while (const unsigned long code = ERR_get_error()) {
        char text[256];
        ERR_error_string_n(code, text, sizeof text);
        message += message == what ? ": " : "; ";
        message += text;
    }
    raise(Exception(message));
}

int checkedSize(std::size_t size) {
    if (size > INT_MAX) {
        fail("input too large");
    }
    return static_cast<int>(size);
}

BioPtr readOnlyBio(std::span<const std::uint8_t> bytes) {
    // OpenSSL takes no null pointer, even for nothing.
    static const std::uint8_t nothing = 0;
    BioPtr bio(BIO_new_mem_buf(bytes.empty() ? &nothing : bytes.data(), checkedSize(bytes.size())));
    if (!bio) {
        fail("out of memory");
    }
    return bio;
}

BioPtr readOnlyBio(std::string_view text) {
    return readOnlyBio({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

// Encrypted keys are refused rather than prompted for: this code runs without a terminal.
int noPassphrase(char*, int, int, void*) {
    return -1;
}

CmsPtr parseSignature(std::span<const std::uint8_t> der) {
    const unsigned char* cursor = der.data();
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(der.size())));
    if (!cms || cursor != der.data() + der.size() ||
        OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) {
        fail("not a CMS signature");
    }
    return cms;
}

CMS_SignerInfo* firstSigner(CMS_ContentInfo* cms) {
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms);
    if (sk_CMS_SignerInfo_num(signers) <= 0) {
        fail("the signature has no signer");
    }
    return sk_CMS_SignerInfo_value(signers, 0);
}

// What a time stamp is given for: the contents of the signer's signature OCTET STRING.
std::vector<std::uint8_t> signatureValue(std::span<const std::uint8_t> signature) {
    const auto cms = parseSignature(signature);
    const ASN1_OCTET_STRING* value = CMS_SignerInfo_get0_signature(firstSigner(cms.get()));
    const unsigned char* data = ASN1_STRING_get0_data(value);
    return {data, data + ASN1_STRING_length(value)};
}

std::vector<std::uint8_t> digest(std::span<const std::uint8_t> bytes, const EVP_MD* md) {
    std::vector<std::uint8_t> hash(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), hash.data(), &size, md, nullptr) != 1) {
        fail("cannot compute the hash");
    }
    hash.resize(size);
    return hash;
}

template <class T, class Encoder>
std::vector<std::uint8_t> encode(T* object, Encoder encoder, const char* what) {
    unsigned char* der = nullptr;
    const int size = encoder(object, &der);
    if (size <= 0) {
        fail(std::string("cannot encode the ") + what);
    }
    const OpenSslBytesPtr owner(der);
    return {der, der + size};
}

void checkGranted(TS_RESP* response) {
    const TS_STATUS_INFO* status = TS_RESP_get_status_info(response);
    const long value = ASN1_INTEGER_get(TS_STATUS_INFO_get0_status(status));
    // 0 granted, 1 granted with modifications; the others refuse.
    if (value == 0 || value == 1) {
        return;
    }
    std::string message =
        "the time-stamp authority refused the request (status " + std::to_string(value) + ")";
    const auto* texts = TS_STATUS_INFO_get0_text(status);
    if (sk_ASN1_UTF8STRING_num(texts) > 0) {
        const ASN1_UTF8STRING* text = sk_ASN1_UTF8STRING_value(texts, 0);
        message += ": " + std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                                      ASN1_STRING_length(text));
    }
    raise(Exception(message));
}

Pkcs7Ptr tokenOf(std::span<const std::uint8_t> reply) {
    const unsigned char* cursor = reply.data();
    const TsRespPtr response(d2i_TS_RESP(nullptr, &cursor, static_cast<long>(reply.size())));
    if (response && cursor == reply.data() + reply.size()) {
        checkGranted(response.get());
        Pkcs7Ptr token(TS_RESP_get_token(response.get()) != nullptr
                           ? PKCS7_dup(TS_RESP_get_token(response.get()))
                           : nullptr);
        if (!token) {
            fail("the time-stamp reply holds no token");
        }
        return token;
    }
    ERR_clear_error();
    cursor = reply.data();
    Pkcs7Ptr token(d2i_PKCS7(nullptr, &cursor, static_cast<long>(reply.size())));
    if (!token || cursor != reply.data() + reply.size()) {
        fail("neither a time-stamp reply nor a time-stamp token");
    }
    return token;
}

} // namespace

std::vector<std::uint8_t> signDetached(std::span<const std::uint8_t> content,
                                       std::string_view keyPem,
                                       std::string_view certificatePem,
                                       std::string_view chainPem) {
    auto keyText = readOnlyBio(keyPem);
    const EvpPkeyPtr key(PEM_read_bio_PrivateKey(keyText.get(), nullptr, &noPassphrase, nullptr));
    if (!key) {
        fail("cannot read the private key (PEM, unencrypted)");
    }
    auto certificateText = readOnlyBio(certificatePem);
    const X509Ptr certificate(
        PEM_read_bio_X509(certificateText.get(), nullptr, &noPassphrase, nullptr));
    if (!certificate) {
        fail("cannot read the certificate (PEM)");
    }
    X509StackPtr chain(sk_X509_new_null());
    auto chainText = readOnlyBio(chainPem);
    while (X509* next = PEM_read_bio_X509(chainText.get(), nullptr, &noPassphrase, nullptr)) {
        if (sk_X509_push(chain.get(), next) <= 0) {
            X509_free(next);
            fail("out of memory");
        }
    }
    // Reading stops at the end of the text with an error that means just that.
    ERR_clear_error();
    if (!chainPem.empty() && sk_X509_num(chain.get()) == 0) {
        fail("no certificate in the chain (PEM)");
    }
    auto data = readOnlyBio(content);
    const CmsPtr cms(CMS_sign(certificate.get(),
                              key.get(),
                              chain.get(),
                              data.get(),
                              CMS_BINARY | CMS_DETACHED | CMS_NOSMIMECAP));
    if (!cms) {
        fail("cannot sign");
    }
    return encode(cms.get(), &i2d_CMS_ContentInfo, "signature");
}

std::vector<std::uint8_t> timeStampRequest(std::span<const std::uint8_t> signature) {
    const auto hash = digest(signatureValue(signature), EVP_sha256());
    const X509AlgorPtr algorithm(X509_ALGOR_new());
    const TsMsgImprintPtr imprint(TS_MSG_IMPRINT_new());
    const TsReqPtr request(TS_REQ_new());
    const Asn1IntegerPtr nonce(ASN1_INTEGER_new());
    std::uint64_t random = 0;
    if (!algorithm || !imprint || !request || !nonce ||
        RAND_bytes(reinterpret_cast<unsigned char*>(&random), sizeof random) != 1 ||
        X509_ALGOR_set0(algorithm.get(), OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr) != 1 ||
        TS_MSG_IMPRINT_set_algo(imprint.get(), algorithm.get()) != 1 ||
        TS_MSG_IMPRINT_set_msg(imprint.get(),
                               const_cast<unsigned char*>(hash.data()),
                               static_cast<int>(hash.size())) != 1 ||
        TS_REQ_set_version(request.get(), 1) != 1 ||
        TS_REQ_set_msg_imprint(request.get(), imprint.get()) != 1 ||
        ASN1_INTEGER_set_uint64(nonce.get(), random) != 1 ||
        TS_REQ_set_nonce(request.get(), nonce.get()) != 1 ||
        TS_REQ_set_cert_req(request.get(), 1) != 1) {
        fail("cannot build the time-stamp request");
    }
    return encode(request.get(), &i2d_TS_REQ, "time-stamp request");
}

std::vector<std::uint8_t> timeStampToken(std::span<const std::uint8_t> reply,
                                         std::span<const std::uint8_t> signature) {
    const auto value = signatureValue(signature);
    auto token = tokenOf(reply);
    const TsTstInfoPtr info(PKCS7_to_TS_TST_INFO(token.get()));
    if (!info) {
        fail("the time-stamp token holds no time-stamp information");
    }
    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info.get());
    const ASN1_OBJECT* algorithm = nullptr;
    X509_ALGOR_get0(&algorithm, nullptr, nullptr, TS_MSG_IMPRINT_get_algo(imprint));
    const EVP_MD* md = EVP_get_digestbyobj(algorithm);
    if (md == nullptr) {
        fail("the time stamp uses an unknown hash algorithm");
    }
    const ASN1_OCTET_STRING* stamped = TS_MSG_IMPRINT_get_msg(imprint);
    const auto expected = digest(value, md);
    if (!std::equal(expected.begin(),
                    expected.end(),
                    ASN1_STRING_get0_data(stamped),
                    ASN1_STRING_get0_data(stamped) + ASN1_STRING_length(stamped))) {
        raise(Exception("the time stamp is for another signature"));
    }
    return encode(token.get(), &i2d_PKCS7, "time-stamp token");
}

std::vector<std::uint8_t> attachTimeStamp(std::span<const std::uint8_t> signature,
                                          std::span<const std::uint8_t> token) {
    const unsigned char* cursor = token.data();
    if (!Pkcs7Ptr(d2i_PKCS7(nullptr, &cursor, static_cast<long>(token.size()))) ||
        cursor != token.data() + token.size()) {
        fail("not a time-stamp token");
    }
    const auto cms = parseSignature(signature);
    CMS_SignerInfo* signer = firstSigner(cms.get());
    for (int index = CMS_unsigned_get_attr_by_NID(signer, NID_id_smime_aa_timeStampToken, -1);
         index >= 0;
         index = CMS_unsigned_get_attr_by_NID(signer, NID_id_smime_aa_timeStampToken, -1)) {
        X509_ATTRIBUTE_free(CMS_unsigned_delete_attr(signer, index));
    }
    if (CMS_unsigned_add1_attr_by_NID(signer,
                                      NID_id_smime_aa_timeStampToken,
                                      V_ASN1_SEQUENCE,
                                      token.data(),
                                      checkedSize(token.size())) != 1) {
        fail("cannot attach the time stamp");
    }
    return encode(cms.get(), &i2d_CMS_ContentInfo, "signature");
}

} // namespace tnw::util
