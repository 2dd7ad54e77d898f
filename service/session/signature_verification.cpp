#include "service/session/signature_verification.hpp"

#include "util/access_log.hpp"

#include "util/code_signature.hpp"

#include <string_view>

#ifndef PLEXMILL_ALLOWED_SIGNERS
#error "PLEXMILL_ALLOWED_SIGNERS (comma-separated hexadecimal serial numbers) must be defined"
#endif

namespace plexmill::session {

namespace {

int hexDigit(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    return -1;
}

// "0a1b,..." to byte strings; the build checks the table, so a malformed entry is skipped
// rather than half read.
std::vector<std::vector<std::uint8_t>> parseSerials(std::string_view table) {
    std::vector<std::vector<std::uint8_t>> serials;
    while (!table.empty()) {
        const auto comma = table.find(',');
        const auto entry = table.substr(0, comma);
        table.remove_prefix(comma == std::string_view::npos ? table.size() : comma + 1);
        std::vector<std::uint8_t> serial;
        for (std::size_t i = 0; i + 1 < entry.size(); i += 2) {
            const int high = hexDigit(entry[i]);
            const int low = hexDigit(entry[i + 1]);
            if (high < 0 || low < 0) {
                serial.clear();
                break;
            }
            serial.push_back(static_cast<std::uint8_t>(high * 16 + low));
        }
        if (!serial.empty() && entry.size() % 2 == 0) {
            serials.push_back(std::move(serial));
        }
    }
    return serials;
}

void writeToAccessLog(const std::string& reason) { tnw::util::AccessLog::write(reason); }

} // namespace

const std::vector<std::vector<std::uint8_t>>& allowedSigners() {
    // Initialised once, thread-safe, read-only afterwards.
    static const auto serials = parseSerials(PLEXMILL_ALLOWED_SIGNERS);
    return serials;
}

bool verifySignature(const std::string& path, const RefusalWriter& writeRefusal) {
    const auto verdict = tnw::util::verifyCodeSignature(path, allowedSigners());
    if (!verdict.accepted) {
        writeRefusal(verdict.reason);
    }
    return verdict.accepted;
}

bool verifySignature(const std::string& path) {
    return verifySignature(path, &writeToAccessLog);
}

} // namespace plexmill::session
