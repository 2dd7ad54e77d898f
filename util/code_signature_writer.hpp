// Making the code signatures that verifyCodeSignature accepts: a detached CMS signature over a
// file's bytes, and an RFC 3161 time stamp on it carried as an unsigned attribute of the
// signer. The signature itself is appended to the file with appendSignature
// (code_signature_format.hpp). Every function raises Exception with a readable message when
// its input is unusable.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tnw::util {

// A detached CMS SignedData (DER) over `content`, made with the private key and certificate in
// PEM (the key unencrypted), carrying the signer's certificate and the certificates of
// `chainPem` (PEM, possibly empty), so a verifier can build the chain to its root.
std::vector<std::uint8_t> signDetached(std::span<const std::uint8_t> content,
                                       std::string_view keyPem,
                                       std::string_view certificatePem,
                                       std::string_view chainPem);

// The RFC 3161 TimeStampReq (DER) for a time stamp on the first signer's signature value of
// `signature` (a CMS SignedData, DER): a SHA-256 imprint, a random nonce, and the authority's
// certificate asked for, because a verifier needs it.
std::vector<std::uint8_t> timeStampRequest(std::span<const std::uint8_t> signature);

// The TimeStampToken (DER) of an authority's TimeStampResp, or `reply` itself when it already
// is a bare token, after checking that the time stamp was granted and that its imprint is the
// hash of the first signer's signature value of `signature`.
std::vector<std::uint8_t> timeStampToken(std::span<const std::uint8_t> reply,
                                         std::span<const std::uint8_t> signature);

// `signature` with `token` (a DER ContentInfo) as the first signer's time-stamp token,
// replacing any earlier one. The token is not judged here; timeStampToken does that.
std::vector<std::uint8_t> attachTimeStamp(std::span<const std::uint8_t> signature,
                                          std::span<const std::uint8_t> token);

} // namespace tnw::util
