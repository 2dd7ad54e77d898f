// Checking the code signature of a file before it may run: the file must carry a detached CMS
// signature (see code_signature_format.hpp) whose certificate chain reaches a root of the
// system certificate store, time-stamped by an RFC 3161 authority, and made by a signer whose
// certificate serial number is one of the allowed ones. Revocation is not checked.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tnw::util {

struct SignatureVerdict {
    bool accepted = false;
    // Why the file was refused, with the path and the trust error number filled in; empty when
    // accepted.
    std::string reason;
};

// Judges the signature of the file at `path`. `allowedSerials` holds certificate serial
// numbers as their DER content bytes, most significant first (the order they are displayed
// in). The certificates are judged at the time of the time stamp, so a signature made while
// its certificate was valid stays valid after the certificate expires. The trusted roots are
// OpenSSL's default verify paths ($SSL_CERT_FILE and $SSL_CERT_DIR override them). Never
// throws; safe to call from several threads at once.
SignatureVerdict verifyCodeSignature(const std::string& path,
                                     std::span<const std::vector<std::uint8_t>> allowedSerials);

// Whether the machine's root certificate store can be opened: the default certificate file
// yields at least one certificate, or one of the default certificate folders can be opened.
bool hasRootStore();

} // namespace tnw::util
