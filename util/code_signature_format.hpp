// Where a code signature sits in a signed file: the file's own bytes, then a detached CMS
// SignedData (DER) over them, then a 12-byte information block and a magic text. It is the
// layout of signed Linux kernel modules, so the file stays usable as it is and standard tools
// can find and inspect the signature.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tnw::util {

inline constexpr std::string_view kSignatureMagic = "~Module signature appended~\n";
// algo, hash, id_type, signer_len, key_id_len, 3 bytes padding, sig_len (big-endian 32 bits).
inline constexpr std::size_t kSignatureInfoSize = 12;
// The id_type of a PKCS #7 / CMS signature.
inline constexpr std::uint8_t kSignatureIdPkcs7 = 2;

struct AppendedSignature {
    enum class Status {
        Found,
        Missing,   // no magic text at the end
        NotPkcs7,  // a signature of another kind
        Truncated, // the length points before the start of the file, or is 0
    };
    Status status = Status::Missing;
    // The signed bytes (the file before the signature) and the signature's DER; views into the
    // file given to findAppendedSignature.
    std::span<const std::uint8_t> content;
    std::span<const std::uint8_t> signature;
};

AppendedSignature findAppendedSignature(std::span<const std::uint8_t> file);

// content + signature + information block + magic.
std::vector<std::uint8_t> appendSignature(std::span<const std::uint8_t> content,
                                          std::span<const std::uint8_t> signature);

} // namespace tnw::util
