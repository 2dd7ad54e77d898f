// plexsign: signs a kernel file the way plexmilld checks it before running an uploaded kernel,
// and time-stamps the signature online (RFC 3161 over HTTP) or offline (a request written to a
// file, the authority's reply read back).
#include "tools/plexsign/http_post.hpp"
#include "util/code_signature_format.hpp"
#include "util/code_signature_writer.hpp"
#include "util/exception.hpp"
#include "util/handle.hpp"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

using tnw::util::Exception;
using tnw::util::raise;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kHelp =
    R"(Usage: plexsign [OPTIONS] FILE

Signs FILE for Quorvex Plexmill. The file keeps its own bytes and gets a detached CMS
signature appended (the layout of signed Linux kernel modules); plexmilld runs an uploaded
kernel only when that signature is valid, time-stamped (RFC 3161) and made by an allowed
signer.

Signing (a signature that FILE already carries is replaced):
  --key FILE          the signer's private key (PEM, unencrypted)
  --cert FILE         the signer's code-signing certificate (PEM)
  --chain FILE        intermediate certificates to include (PEM)

Time stamp, for the new signature or for the one FILE already carries:
  --tsa URL           ask the time-stamp authority at URL (http:// or https://,
                      through the proxy that http_proxy or https_proxy names)
  --write-tsq FILE    write the time-stamp request (DER) for the signature to FILE
  --tsa-reply FILE    attach the time stamp of this reply (or bare token) of an authority

Other:
  --output FILE       write the result to FILE instead of replacing the input
  --timeout SECONDS   how long --tsa waits for the authority (default 30)
  --help              show this text

Online:
  plexsign --key signer.key --cert signer.pem --chain ca.pem --tsa https://tsa.example/ millcore.dll

Offline, with a local time-stamp authority (see openssl-ts(1) for its configuration):
  plexsign --key signer.key --cert signer.pem --write-tsq millcore.tsq millcore.dll
  openssl ts -reply -config tsa.cnf -queryfile millcore.tsq -out millcore.tsr
  plexsign --tsa-reply millcore.tsr millcore.dll

Exit status: 0 done, 1 failed (nothing written), 2 wrong usage.
)";

struct Options {
    std::string file;
    std::string key;
    std::string certificate;
    std::string chain;
    std::string tsa;
    std::string requestOut;
    std::string reply;
    std::string output;
    int timeoutSeconds = 30;
    bool help = false;
};

struct UsageError {
    std::string message;
};

Options parseOptions(int argc, char** argv) {
    Options options;
    const std::pair<std::string_view, std::string Options::*> valued[] = {
        {"--key", &Options::key},
        {"--cert", &Options::certificate},
        {"--chain", &Options::chain},
        {"--tsa", &Options::tsa},
        {"--write-tsq", &Options::requestOut},
        {"--tsa-reply", &Options::reply},
        {"--output", &Options::output},
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help") {
            // Acts at once: the arguments after it are not examined.
            options.help = true;
            return options;
        }
        bool known = false;
        for (const auto& [name, member] : valued) {
            if (argument == name) {
                if (i + 1 >= argc) {
                    throw UsageError{std::string(name) + " needs a value"};
                }
                options.*member = argv[++i];
                known = true;
            }
        }
        if (known) {
            continue;
        }
        if (argument == "--timeout") {
            if (i + 1 >= argc) {
                throw UsageError{"--timeout needs a value"};
            }
            char* end = nullptr;
            const long seconds = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || seconds <= 0 || seconds > 3600) {
                throw UsageError{"--timeout takes 1 to 3600 seconds"};
            }
            options.timeoutSeconds = static_cast<int>(seconds);
        } else if (argument.starts_with("-") || !options.file.empty()) {
            throw UsageError{"unexpected argument '" + std::string(argument) + "'"};
        } else {
            options.file = argument;
        }
    }
    if (options.file.empty()) {
        throw UsageError{"no file given"};
    }
    if (options.key.empty() != options.certificate.empty()) {
        throw UsageError{"--key and --cert go together"};
    }
    if (!options.chain.empty() && options.key.empty()) {
        throw UsageError{"--chain needs --key and --cert"};
    }
    if (!options.tsa.empty() + !options.requestOut.empty() + !options.reply.empty() > 1) {
        throw UsageError{"choose one of --tsa, --write-tsq and --tsa-reply"};
    }
    if (!options.reply.empty() && !options.key.empty()) {
        throw UsageError{"a time-stamp reply fits only the signature it was asked for: sign "
                         "with --write-tsq first, then attach the reply without --key"};
    }
    if (options.key.empty() && options.tsa.empty() && options.reply.empty() &&
        options.requestOut.empty()) {
        throw UsageError{"nothing to do: give --key and --cert, --tsa, --write-tsq or --tsa-reply"};
    }
    if (!options.output.empty() && options.key.empty() && !options.requestOut.empty()) {
        throw UsageError{"--write-tsq alone changes nothing to write to --output"};
    }
    return options;
}

std::string readText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        raise(Exception("cannot open '" + path + "'"));
    }
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) {
        raise(Exception("cannot read '" + path + "'"));
    }
    return text;
}

Bytes readBytes(const std::string& path) {
    const std::string text = readText(path);
    return {text.begin(), text.end()};
}

// Writes through a temporary file in the same folder and a rename, so that a failure leaves
// the old file whole; the new file gets `mode`.
void writeReplacing(const std::string& path,
                    std::span<const std::uint8_t> bytes,
                    std::filesystem::perms mode) {
    std::string temporary = path + ".plexsign-XXXXXX";
    const tnw::util::Handle file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!file.isValid()) {
        raise(Exception("cannot create a file next to '" + path +
                        "': " + std::system_category().message(errno)));
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(file.fd(), bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            const int failure = errno;
            ::unlink(temporary.c_str());
            raise(Exception("cannot write '" + temporary +
                            "': " + std::system_category().message(failure)));
        }
        written += static_cast<std::size_t>(count);
    }
    if (::fchmod(file.fd(), static_cast<mode_t>(mode)) != 0 || ::fsync(file.fd()) != 0 ||
        ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int failure = errno;
        ::unlink(temporary.c_str());
        raise(
            Exception("cannot replace '" + path + "': " + std::system_category().message(failure)));
    }
}

int run(const Options& options) {
    if (options.help) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    const Bytes file = readBytes(options.file);
    const auto existing = tnw::util::findAppendedSignature(file);
    const bool wasSigned = existing.status == tnw::util::AppendedSignature::Status::Found;
    const std::span<const std::uint8_t> content = wasSigned ? existing.content : file;

    Bytes signature;
    bool changed = false;
    if (!options.key.empty()) {
        signature = tnw::util::signDetached(content,
                                            readText(options.key),
                                            readText(options.certificate),
                                            options.chain.empty() ? "" : readText(options.chain));
        changed = true;
    } else if (wasSigned) {
        signature.assign(existing.signature.begin(), existing.signature.end());
    } else {
        raise(Exception("'" + options.file +
                        "' carries no signature; sign it with --key and --cert"));
    }

    if (!options.requestOut.empty()) {
        const auto request = tnw::util::timeStampRequest(signature);
        std::ofstream out(options.requestOut, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(request.data()),
                  static_cast<std::streamsize>(request.size()));
        if (!out.flush()) {
            raise(Exception("cannot write '" + options.requestOut + "'"));
        }
    }
    if (!options.tsa.empty() || !options.reply.empty()) {
        const Bytes reply =
            options.reply.empty()
                ? plexmill::plexsign::httpPost(options.tsa,
                                               "application/timestamp-query",
                                               tnw::util::timeStampRequest(signature),
                                               std::chrono::seconds(options.timeoutSeconds))
                : readBytes(options.reply);
        signature =
            tnw::util::attachTimeStamp(signature, tnw::util::timeStampToken(reply, signature));
        changed = true;
    } else if (!options.key.empty() && options.requestOut.empty()) {
        std::fputs("plexsign: note: the signature has no time stamp; plexmilld refuses it until "
                   "one is attached (--tsa or --write-tsq and --tsa-reply)\n",
                   stderr);
    }
    if (changed) {
        writeReplacing(options.output.empty() ? options.file : options.output,
                       tnw::util::appendSignature(content, signature),
                       std::filesystem::status(options.file).permissions());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(parseOptions(argc, argv));
    } catch (const UsageError& failure) {
        std::fprintf(stderr, "plexsign: %s (see --help)\n", failure.message.c_str());
        return 2;
    } catch (const Exception& failure) {
        std::fprintf(stderr, "plexsign: %s\n", failure.getMessage().c_str());
        return 1;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "plexsign: %s\n", failure.what());
        return 1;
    }
}
