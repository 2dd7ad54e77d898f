#include "util/code_signature_format.hpp"

#include "util/exception.hpp"

#include <algorithm>

namespace tnw::util {

namespace {

constexpr std::size_t kIdTypeOffset = 2;
constexpr std::size_t kLengthOffset = 8;
constexpr std::size_t kTrailerSize = kSignatureInfoSize + kSignatureMagic.size();

} // namespace

AppendedSignature findAppendedSignature(std::span<const std::uint8_t> file) {
    AppendedSignature found;
    if (file.size() < kTrailerSize ||
        !std::equal(kSignatureMagic.begin(),
                    kSignatureMagic.end(),
                    file.end() - static_cast<std::ptrdiff_t>(kSignatureMagic.size()))) {
        return found;
    }
    const auto info = file.subspan(file.size() - kTrailerSize, kSignatureInfoSize);
    if (info[kIdTypeOffset] != kSignatureIdPkcs7) {
        found.status = AppendedSignature::Status::NotPkcs7;
        return found;
    }
    std::uint32_t length = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        length = (length << 8) | info[kLengthOffset + i];
    }
    const std::size_t available = file.size() - kTrailerSize;
    if (length == 0 || length > available) {
        found.status = AppendedSignature::Status::Truncated;
        return found;
    }
    found.status = AppendedSignature::Status::Found;
    found.content = file.first(available - length);
    found.signature = file.subspan(available - length, length);
    return found;
}

std::vector<std::uint8_t> appendSignature(std::span<const std::uint8_t> content,
                                          std::span<const std::uint8_t> signature) {
    if (signature.size() > 0xFFFFFFFFU) {
        raise(Exception("signature too large"));
    }
    std::vector<std::uint8_t> file;
    file.reserve(content.size() + signature.size() + kTrailerSize);
    file.insert(file.end(), content.begin(), content.end());
    file.insert(file.end(), signature.begin(), signature.end());
    std::uint8_t info[kSignatureInfoSize] = {};
    info[kIdTypeOffset] = kSignatureIdPkcs7;
    const auto length = static_cast<std::uint32_t>(signature.size());
    for (std::size_t i = 0; i < 4; ++i) {
        info[kLengthOffset + i] = static_cast<std::uint8_t>(length >> (8 * (3 - i)));
    }
    file.insert(file.end(), std::begin(info), std::end(info));
    file.insert(file.end(), kSignatureMagic.begin(), kSignatureMagic.end());
    return file;
}

} // namespace tnw::util
