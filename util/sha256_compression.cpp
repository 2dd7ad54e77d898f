// OpenSSL's block function picks the fastest code for this processor (SHA extensions, AVX2,
// ...) and is the best-tested implementation around. It is reachable only through the
// low-level SHA256_* calls, which OpenSSL 3 marks deprecated in favour of EVP; EVP cannot
// expose the intermediate state, which the stream needs, so the deprecation is silenced here
// and nowhere else.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "util/sha256_compression.hpp"

#include <algorithm>
#include <openssl/sha.h>

namespace tnw::util {

void sha256Compress(Sha256State& state, const std::uint8_t* blocks, std::size_t blockCount) {
    if (blockCount == 0) {
        return;
    }
    // With nothing buffered and whole blocks given, SHA256_Update compresses straight from
    // `blocks` and keeps no remainder, so h[] is exactly the state after those blocks.
    SHA256_CTX context;
    SHA256_Init(&context);
    std::copy(state.begin(), state.end(), context.h);
    SHA256_Update(&context, blocks, blockCount * SHA256_CBLOCK);
    std::copy(context.h, context.h + state.size(), state.begin());
}

} // namespace tnw::util
