// Whether a kernel file that a client uploaded may run: it must carry a valid, time-stamped
// code signature from one of the allowed signers. The check itself is the platform's
// (util/code_signature.hpp); this is the server's policy around it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace plexmill::session {

// Receives the reason of a refusal.
using RefusalWriter = std::function<void(const std::string& reason)>;

// True when the file at `path` is signed, time-stamped and signed by an allowed signer;
// otherwise false, after writing the reason to the access log. Never throws; several
// verifications may run at once.
bool verifySignature(const std::string& path);

// The same check with the reason handed to `writeRefusal` instead of the access log.
bool verifySignature(const std::string& path, const RefusalWriter& writeRefusal);

// The serial numbers of the allowed signers' certificates, most significant byte first, as
// fixed when the program was built (CMake: PLEXMILL_ALLOWED_SIGNERS). Built on first use and
// never changed afterwards.
const std::vector<std::vector<std::uint8_t>>& allowedSigners();

} // namespace plexmill::session
