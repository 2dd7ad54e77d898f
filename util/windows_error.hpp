// Windows error numbers, kept where callers and peers see them. Every failing system call
// is reported through windowsError(errno) so the whole program agrees on one mapping.
#pragma once

#include <cstdint>

namespace tnw::util {

namespace error {
inline constexpr std::uint32_t kSuccess = 0;
inline constexpr std::uint32_t kFileNotFound = 2;
inline constexpr std::uint32_t kPathNotFound = 3;
inline constexpr std::uint32_t kTooManyOpenFiles = 4;
inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kInvalidHandle = 6;
inline constexpr std::uint32_t kNotEnoughMemory = 8;
inline constexpr std::uint32_t kHandleEof = 38;
inline constexpr std::uint32_t kFileExists = 80;
inline constexpr std::uint32_t kInvalidParameter = 87;
inline constexpr std::uint32_t kBrokenPipe = 109;
inline constexpr std::uint32_t kDiskFull = 112;
inline constexpr std::uint32_t kDirNotEmpty = 145;
inline constexpr std::uint32_t kAlreadyExists = 183;
inline constexpr std::uint32_t kWouldBlock = 10035;
inline constexpr std::uint32_t kAddressInUse = 10048;
inline constexpr std::uint32_t kAddressNotAvailable = 10049;
inline constexpr std::uint32_t kNetworkUnreachable = 10051;
inline constexpr std::uint32_t kConnectionAborted = 10053;
inline constexpr std::uint32_t kConnectionReset = 10054;
inline constexpr std::uint32_t kNotConnected = 10057;
inline constexpr std::uint32_t kShutdown = 10058;
inline constexpr std::uint32_t kTimedOut = 10060;
inline constexpr std::uint32_t kConnectionRefused = 10061;
inline constexpr std::uint32_t kHostUnreachable = 10065;
inline constexpr std::uint32_t kTryAgain = 11002;
} // namespace error

// Maps an errno value to the Windows error number of the same meaning. errno values with no
// Windows counterpart map to 0x20000000 | errno (the "customer" range), so they stay distinct.
std::uint32_t windowsError(int errnoValue);

// windowsError(errno) of the calling thread.
std::uint32_t lastError();

} // namespace tnw::util
