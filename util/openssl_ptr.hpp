// Move-only owners of OpenSSL objects, so that no object leaks on an early return.
#pragma once

#include <memory>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

namespace tnw::util {

template <auto Free> struct OpenSslDeleter {
    template <class T> void operator()(T* object) const { Free(object); }
};

template <class T, auto Free> using OpenSslPtr = std::unique_ptr<T, OpenSslDeleter<Free>>;

using BioPtr = OpenSslPtr<BIO, &BIO_free_all>;
using CmsPtr = OpenSslPtr<CMS_ContentInfo, &CMS_ContentInfo_free>;
using EvpPkeyPtr = OpenSslPtr<EVP_PKEY, &EVP_PKEY_free>;
using Pkcs7Ptr = OpenSslPtr<PKCS7, &PKCS7_free>;
using X509Ptr = OpenSslPtr<X509, &X509_free>;
using X509StorePtr = OpenSslPtr<X509_STORE, &X509_STORE_free>;
using X509StoreCtxPtr = OpenSslPtr<X509_STORE_CTX, &X509_STORE_CTX_free>;
using X509AlgorPtr = OpenSslPtr<X509_ALGOR, &X509_ALGOR_free>;
using Asn1IntegerPtr = OpenSslPtr<ASN1_INTEGER, &ASN1_INTEGER_free>;
using TsReqPtr = OpenSslPtr<TS_REQ, &TS_REQ_free>;
using TsRespPtr = OpenSslPtr<TS_RESP, &TS_RESP_free>;
using TsMsgImprintPtr = OpenSslPtr<TS_MSG_IMPRINT, &TS_MSG_IMPRINT_free>;
using TsTstInfoPtr = OpenSslPtr<TS_TST_INFO, &TS_TST_INFO_free>;
using TsVerifyCtxPtr = OpenSslPtr<TS_VERIFY_CTX, &TS_VERIFY_CTX_free>;
using TsRespCtxPtr = OpenSslPtr<TS_RESP_CTX, &TS_RESP_CTX_free>;

// Memory that OpenSSL allocated for the caller (an i2d encoding, for example).
struct OpenSslMemoryDeleter {
    void operator()(unsigned char* memory) const { OPENSSL_free(memory); }
};
using OpenSslBytesPtr = std::unique_ptr<unsigned char, OpenSslMemoryDeleter>;

// A certificate stack that owns its certificates.
struct X509StackDeleter {
    void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};
using X509StackPtr = std::unique_ptr<STACK_OF(X509), X509StackDeleter>;

} // namespace tnw::util
