// plexsign as its users run it: signing, the offline time-stamp round trip through
// `openssl ts -reply`, and the online one against a time-stamp authority served over HTTP on
// the test's private loopback: directly, through a proxy, after redirects and behind TLS.
#include "tests/support/child_process.hpp"
#include "tests/support/server_process.hpp"
#include "tests/support/test_pki.hpp"
#include "util/code_signature.hpp"
#include "util/code_signature_format.hpp"

#include <arpa/inet.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef PLEXSIGN_PATH
#error "PLEXSIGN_PATH must name the plexsign program"
#endif

namespace plexmill::plexsign {
namespace {

namespace fs = std::filesystem;
using tnw::test::Bytes;
using tnw::test::TestPki;

const tnw::test::SignerSpec kSigner{"plexsign", "6a6b6c6d6e6f70717273747576777879"};
const std::vector<Bytes> kAllowed = {{0x6a,
                                      0x6b,
                                      0x6c,
                                      0x6d,
                                      0x6e,
                                      0x6f,
                                      0x70,
                                      0x71,
                                      0x72,
                                      0x73,
                                      0x74,
                                      0x75,
                                      0x76,
                                      0x77,
                                      0x78,
                                      0x79}};

// An RFC 3161 authority behind a minimal HTTP server: each connection gets one reply, framed
// as asked, and is closed. Redirect sends the first request on to /stamped; RedirectLoop
// sends every request back to /tsa.
class HttpTimeStampAuthority {
public:
    enum class Framing { Length, Chunked, UntilClose, ServerError, Redirect, RedirectLoop };

    explicit HttpTimeStampAuthority(Framing framing) : framing_(framing) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(listener_, 4) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            throw std::runtime_error("cannot listen on the loopback");
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }

    ~HttpTimeStampAuthority() {
        ::shutdown(listener_, SHUT_RDWR); // wakes the accept
        thread_.join();
        ::close(listener_);
    }
    HttpTimeStampAuthority(const HttpTimeStampAuthority&) = delete;
    HttpTimeStampAuthority& operator=(const HttpTimeStampAuthority&) = delete;

    int port() const { return port_; }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/tsa"; }

    std::string requestHead() const {
        const std::lock_guard lock(mutex_);
        return heads_.empty() ? "" : heads_.back();
    }

    // The request lines, in the order the requests came.
    std::vector<std::string> requestLines() const {
        const std::lock_guard lock(mutex_);
        std::vector<std::string> lines;
        for (const auto& head : heads_) {
            lines.push_back(head.substr(0, head.find("\r\n")));
        }
        return lines;
    }

private:
    void serve() {
        for (;;) {
            const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0) {
                return;
            }
            try {
                answer(connection);
            } catch (const std::exception&) {
                // The client sees the connection close; the test judges by its exit code.
            }
            ::close(connection);
        }
    }

    void answer(int connection) {
        std::string request;
        char buffer[4096];
        std::size_t headEnd = std::string::npos;
        std::size_t length = 0;
        while (headEnd == std::string::npos || request.size() < headEnd + 4 + length) {
            const ssize_t count = ::recv(connection, buffer, sizeof buffer, 0);
            if (count <= 0) {
                return;
            }
            request.append(buffer, static_cast<std::size_t>(count));
            headEnd = request.find("\r\n\r\n");
            if (headEnd != std::string::npos) {
                const auto field = request.find("Content-Length: ");
                length = field < headEnd ? std::stoul(request.substr(field + 16)) : 0;
            }
        }
        bool firstRequest = false;
        {
            const std::lock_guard lock(mutex_);
            heads_.push_back(request.substr(0, headEnd));
            firstRequest = heads_.size() == 1;
        }
        const std::string query = request.substr(headEnd + 4, length);
        const Bytes reply = tnw::test::opensslTimeStampReply(Bytes(query.begin(), query.end()));
        const std::string body(reply.begin(), reply.end());
        std::string response;
        switch (framing_) {
        case Framing::Length:
            response = "HTTP/1.1 200 OK\r\nContent-Type: application/timestamp-reply\r\n"
                       "Content-Length: " +
                       std::to_string(body.size()) + "\r\n\r\n" + body;
            break;
        case Framing::Chunked: {
            const std::size_t half = body.size() / 2;
            const auto chunk = [](const std::string& part) {
                char size[16];
                std::snprintf(size, sizeof size, "%zx", part.size());
                return std::string(size) + ";note=x\r\n" + part + "\r\n";
            };
            response = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                       chunk(body.substr(0, half)) + chunk(body.substr(half)) + "0\r\n\r\n";
            break;
        }
        case Framing::UntilClose:
            response =
                "HTTP/1.0 200 OK\r\ncontent-type: application/timestamp-reply\r\n\r\n" + body;
            break;
        case Framing::ServerError:
            response = "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n";
            break;
        case Framing::Redirect:
            response = firstRequest
                           ? "HTTP/1.1 301 Moved Permanently\r\nLocation: /stamped\r\n"
                             "Content-Length: 5\r\n\r\nmoved"
                           : "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                 "\r\n\r\n" + body;
            break;
        case Framing::RedirectLoop:
            response = "HTTP/1.1 302 Found\r\nLocation: /tsa\r\nContent-Length: 0\r\n\r\n";
            break;
        }
        for (std::size_t sent = 0; sent < response.size();) {
            const ssize_t count =
                ::send(connection, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
            if (count <= 0) {
                return;
            }
            sent += static_cast<std::size_t>(count);
        }
    }

    Framing framing_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> heads_;
};

class Plexsign : public testing::Test {
protected:
    void SetUp() override {
        TestPki::shared().issue(kSigner);
        TestPki::shared().trustRoot();
        tnw::test::writeBytes(file_, original_);
        fs::permissions(file_, fs::perms(0755));
    }

    static tnw::test::RunResult plexsign(std::vector<std::string> arguments,
                                         std::map<std::string, std::string> environment = {}) {
        arguments.insert(arguments.begin(), PLEXSIGN_PATH);
        return tnw::test::run(arguments, std::move(environment));
    }

    static std::vector<std::string> signing(std::vector<std::string> more) {
        const auto& pki = TestPki::shared();
        std::vector<std::string> arguments = {"--key",
                                              pki.path("plexsign.key").string(),
                                              "--cert",
                                              pki.path("plexsign.pem").string(),
                                              "--chain",
                                              pki.path("intermediate.pem").string()};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return arguments;
    }

    std::string verdictOf(const fs::path& path) const {
        const auto verdict = tnw::util::verifyCodeSignature(path.string(), kAllowed);
        return verdict.accepted ? "accepted" : verdict.reason;
    }

    Bytes contentOf(const fs::path& path) const {
        const Bytes bytes = tnw::test::readBytes(path);
        const auto found = tnw::util::findAppendedSignature(bytes);
        return {found.content.begin(), found.content.end()};
    }

    tnw::test::TempFolder folder_{"plexmill-plexsign"};
    const fs::path file_ = folder_ / "millcore.exe";
    const Bytes original_ = {0x7f, 'E', 'L', 'F', 2, 1, 1, 0, 'k', 'e', 'r', 'n', 'e', 'l'};
};

TEST_F(Plexsign, SignsAndTimeStampsOfflineThroughOpensslTs) {
    const auto request = (folder_ / "millcore.tsq").string();
    const auto signedRun = plexsign(signing({"--write-tsq", request, file_.string()}));
    ASSERT_EQ(signedRun.exitCode, 0) << signedRun.errors;
    EXPECT_EQ(signedRun.errors, "");
    EXPECT_EQ(verdictOf(file_), "Timestamp missing for '" + file_.string() + "'.");

    tnw::test::openssl({"ts",
                        "-reply",
                        "-config",
                        TestPki::shared().path("tsa.cnf").string(),
                        "-queryfile",
                        request,
                        "-out",
                        (folder_ / "millcore.tsr").string()});
    const auto stamped =
        plexsign({"--tsa-reply", (folder_ / "millcore.tsr").string(), file_.string()});
    ASSERT_EQ(stamped.exitCode, 0) << stamped.errors;
    EXPECT_EQ(verdictOf(file_), "accepted");
    EXPECT_EQ(contentOf(file_), original_);
    EXPECT_EQ(fs::status(file_).permissions(), fs::perms(0755));
}

TEST_F(Plexsign, SignsTheContentAgainRatherThanTheOldSignature) {
    ASSERT_EQ(
        plexsign(signing({"--write-tsq", (folder_ / "a.tsq").string(), file_.string()})).exitCode,
        0);
    const auto firstSize = fs::file_size(file_);
    ASSERT_EQ(
        plexsign(signing({"--write-tsq", (folder_ / "b.tsq").string(), file_.string()})).exitCode,
        0);
    EXPECT_EQ(contentOf(file_), original_);
    // ECDSA signatures vary by a byte or two in length, not by a whole signature.
    EXPECT_LT(fs::file_size(file_), firstSize + 16);
}

TEST_F(Plexsign, WritesToTheOutputAndLeavesTheInputAlone) {
    const auto output = folder_ / "signed.exe";
    const auto result = plexsign(signing({"--output", output.string(), file_.string()}));
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_NE(result.errors.find("note: the signature has no time stamp"), std::string::npos);
    EXPECT_EQ(tnw::test::readBytes(file_), original_);
    EXPECT_EQ(contentOf(output), original_);
    EXPECT_EQ(verdictOf(output), "Timestamp missing for '" + output.string() + "'.");
}

TEST_F(Plexsign, TimeStampsOnlineOverHttp) {
    using Framing = HttpTimeStampAuthority::Framing;
    for (const auto framing : {Framing::Length, Framing::Chunked, Framing::UntilClose}) {
        SCOPED_TRACE(static_cast<int>(framing));
        tnw::test::writeBytes(file_, original_);
        const HttpTimeStampAuthority authority(framing);
        const auto result = plexsign(signing({"--tsa", authority.url(), file_.string()}));
        ASSERT_EQ(result.exitCode, 0) << result.errors;
        EXPECT_EQ(verdictOf(file_), "accepted");
        const auto head = authority.requestHead();
        EXPECT_EQ(head.find("POST /tsa HTTP/1.1\r\n"), 0U) << head;
        EXPECT_NE(head.find("\r\nContent-Type: application/timestamp-query"), std::string::npos);
    }
}

TEST_F(Plexsign, LeavesTheFileUntouchedWhenTheAuthorityFails) {
    const HttpTimeStampAuthority failing(HttpTimeStampAuthority::Framing::ServerError);
    auto result = plexsign(signing({"--tsa", failing.url(), file_.string()}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.errors.find("HTTP 500 Internal Server Error"), std::string::npos)
        << result.errors;
    EXPECT_EQ(tnw::test::readBytes(file_), original_);

    // A port where nobody listens: the loopback refuses at once.
    std::string closedUrl = failing.url();
    closedUrl.replace(closedUrl.rfind(':') + 1, std::string::npos, "1/tsa");
    result = plexsign(signing({"--tsa", closedUrl, file_.string()}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.errors.find("cannot connect to 127.0.0.1:1"), std::string::npos)
        << result.errors;

    result = plexsign(signing({"--tsa", "ftp://127.0.0.1/", file_.string()}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.errors.find("only http:// and https:// addresses are supported"),
              std::string::npos)
        << result.errors;
    EXPECT_EQ(tnw::test::readBytes(file_), original_);
}

TEST_F(Plexsign, FollowsRedirectsAndProxiesAsAnHttpClientShould) {
    {
        // An authority that moved: the POST is repeated at the new address.
        const HttpTimeStampAuthority moved(HttpTimeStampAuthority::Framing::Redirect);
        const auto result = plexsign(signing({"--tsa", moved.url(), file_.string()}));
        ASSERT_EQ(result.exitCode, 0) << result.errors;
        EXPECT_EQ(verdictOf(file_), "accepted");
        EXPECT_EQ(moved.requestLines(),
                  (std::vector<std::string>{"POST /tsa HTTP/1.1", "POST /stamped HTTP/1.1"}));
    }
    {
        // The proxy gets the whole address; the host name need not resolve here.
        tnw::test::writeBytes(file_, original_);
        const HttpTimeStampAuthority proxy(HttpTimeStampAuthority::Framing::Length);
        const auto result = plexsign(
            signing({"--tsa", "http://tsa.invalid/stamp", file_.string()}),
            {{"http_proxy", "http://127.0.0.1:" + std::to_string(proxy.port())}, {"no_proxy", ""}});
        ASSERT_EQ(result.exitCode, 0) << result.errors;
        EXPECT_EQ(verdictOf(file_), "accepted");
        EXPECT_EQ(proxy.requestLines(),
                  std::vector<std::string>{"POST http://tsa.invalid/stamp HTTP/1.1"});
    }
    {
        tnw::test::writeBytes(file_, original_);
        const HttpTimeStampAuthority looping(HttpTimeStampAuthority::Framing::RedirectLoop);
        const auto result = plexsign(signing({"--tsa", looping.url(), file_.string()}));
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.errors.find("the server redirected more than 5 times"), std::string::npos)
            << result.errors;
        EXPECT_EQ(looping.requestLines().size(), 6U);
        EXPECT_EQ(tnw::test::readBytes(file_), original_);
    }
}

TEST_F(Plexsign, TimeStampsOverHttpsTrustingWhatOpensslIsTold) {
    // socat puts TLS, with a certificate for 127.0.0.1, in front of the plain authority.
    const HttpTimeStampAuthority authority(HttpTimeStampAuthority::Framing::Length);
    const auto certificate = (folder_ / "tls.pem").string();
    const auto key = (folder_ / "tls.key").string();
    tnw::test::openssl({"req",
                        "-x509",
                        "-newkey",
                        "ec",
                        "-pkeyopt",
                        "ec_paramgen_curve:P-256",
                        "-nodes",
                        "-subj",
                        "/CN=127.0.0.1",
                        "-addext",
                        "subjectAltName=IP:127.0.0.1",
                        "-days",
                        "2",
                        "-keyout",
                        key,
                        "-out",
                        certificate});
    const tnw::test::ChildProcess tls(
        {"socat",
         "OPENSSL-LISTEN:4443,bind=127.0.0.1,reuseaddr,fork,verify=0,cert=" + certificate +
             ",key=" + key,
         "TCP:127.0.0.1:" + std::to_string(authority.port())});
    ASSERT_TRUE(tnw::test::waitForPort(4443));

    // The test's root does not vouch for this certificate.
    auto result = plexsign(signing({"--tsa", "https://127.0.0.1:4443/tsa", file_.string()}));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.errors.find("no trusted secure connection to 127.0.0.1:4443"),
              std::string::npos)
        << result.errors;
    EXPECT_EQ(tnw::test::readBytes(file_), original_);

    result = plexsign(signing({"--tsa", "https://127.0.0.1:4443/tsa", file_.string()}),
                      {{"SSL_CERT_FILE", certificate}, {"SSL_CERT_DIR", ""}});
    ASSERT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_EQ(verdictOf(file_), "accepted");
    EXPECT_EQ(authority.requestLines(), std::vector<std::string>{"POST /tsa HTTP/1.1"});
}

TEST_F(Plexsign, FailsWithoutWritingOnBadInput) {
    const auto garbage = folder_ / "garbage.tsr";
    tnw::test::writeFile(garbage, "not a reply");
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        const char* message;
    };
    const Case cases[] = {
        {"reply for an unsigned file",
         {"--tsa-reply", garbage.string(), file_.string()},
         "carries no signature"},
        {"missing key",
         {"--key", (folder_ / "none.key").string(), "--cert", "x.pem", file_.string()},
         "cannot open"},
        {"missing file", signing({(folder_ / "none.exe").string()}), "cannot open"},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.name);
        const auto result = plexsign(item.arguments);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.errors.find(item.message), std::string::npos) << result.errors;
    }
    ASSERT_EQ(plexsign(signing({file_.string()})).exitCode, 0);
    const Bytes signedBytes = tnw::test::readBytes(file_);
    const auto result = plexsign({"--tsa-reply", garbage.string(), file_.string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.errors.find("neither a time-stamp reply nor a time-stamp token"),
              std::string::npos);
    EXPECT_EQ(tnw::test::readBytes(file_), signedBytes);
    for (const auto& entry : fs::directory_iterator(folder_.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".plexsign-"), std::string::npos);
    }
}

TEST_F(Plexsign, RefusesContradictoryOptionsWithExitCodeTwo) {
    const std::string file = file_.string();
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--key", "a.key", file},
        {"--bogus", file},
        {"--chain", "c.pem", "--tsa", "http://x/", file},
        {"--tsa", "http://x/", "--write-tsq", "q.tsq", file},
        signing({"--tsa-reply", "r.tsr", file}),
        {"--write-tsq", "q.tsq", "--output", "o.exe", file},
        {"--timeout", "0", "--tsa", "http://x/", file},
        {file, file},
        {file},
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(testing::PrintToString(arguments));
        const auto result = plexsign(arguments);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_NE(result.errors.find("(see --help)"), std::string::npos) << result.errors;
    }
    EXPECT_EQ(tnw::test::readBytes(file_), original_);
}

TEST_F(Plexsign, HelpShowsTheOfflineRoundTrip) {
    const auto result = plexsign({"--help"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.output.find("--write-tsq FILE"), std::string::npos);
    EXPECT_NE(result.output.find("openssl ts -reply"), std::string::npos);
    EXPECT_NE(result.output.find("--tsa-reply FILE"), std::string::npos);
}

} // namespace
} // namespace plexmill::plexsign
