// plexmilld --http: the status port over real sockets, as browsers and tools use it.
#include "tests/support/server_process.hpp"
#include "tests/support/temp_folder.hpp"
#include "util/name_resolution.hpp"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tnw::test {
namespace {

constexpr std::uint16_t kStatusPort = 8080;
const std::filesystem::path kResources =
    std::filesystem::path(PLEXMILL_SOURCE_DIR) / "service/http/resources";

// A server with the status port open, ready for requests.
class StatusServer {
public:
    explicit StatusServer(std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments = {"--http", "--rating", "5000"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        server_ = std::make_unique<ServerProcess>(home_, arguments);
        ready_ = server_->waitUntilReady() && waitForPort(kStatusPort);
    }
    ~StatusServer() { server_->stop(); }
    bool ready() const { return ready_; }
    std::string log() { return server_->process().output() + server_->process().errors(); }
    ServerHome& home() { return home_; }

private:
    ServerHome home_;
    std::unique_ptr<ServerProcess> server_;
    bool ready_ = false;
};

// Sends `request` on a new connection and returns every byte the server sent until it closed
// the connection. `closed` tells whether it did so within the deadline.
std::string converse(const std::string& request, bool* closed = nullptr) {
    int fd = connectTcp(kStatusPort);
    EXPECT_GE(fd, 0);
    timeval wait{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    EXPECT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    std::string received;
    char buffer[65536];
    ssize_t count = 0;
    while ((count = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
        received.append(buffer, static_cast<std::size_t>(count));
    }
    if (closed != nullptr) {
        *closed = count == 0;
    }
    ::close(fd);
    return received;
}

struct Response {
    std::string headers; // up to and including the empty line
    std::string body;    // Content-Length bytes
};

// Takes one response off the front of `stream`.
Response nextResponse(std::string& stream) {
    Response response;
    std::size_t end = stream.find("\r\n\r\n");
    if (end == std::string::npos) {
        ADD_FAILURE() << "no header block in: " << stream;
        return response;
    }
    response.headers = stream.substr(0, end + 4);
    const std::string key = "\r\nContent-Length: ";
    std::size_t at = response.headers.find(key);
    std::size_t length =
        at == std::string::npos ? 0 : std::stoul(response.headers.substr(at + key.size()));
    response.body = stream.substr(end + 4, length);
    EXPECT_EQ(response.body.size(), length);
    stream.erase(0, end + 4 + length);
    return response;
}

std::string dynamicHeaders(std::size_t length, const std::string& type, const std::string& cache) {
    return "HTTP/1.1 200 OK\r\nAllow: GET\r\nContent-Length: " + std::to_string(length) +
           "\r\nContent-Type: " + type +
           "; UTF-8\r\nAccess-Control-Allow-Origin: *\r\nAccess-Control-Allow-Methods: "
           "GET\r\nCache-Control: " +
           cache + "\r\nConnection: Keep-Alive\r\n\r\n";
}

TEST(HttpStatusPort, StaticResourcesAreSentExactlyAndEndTheConnection) {
    StatusServer server;
    ASSERT_TRUE(server.ready()) << server.log();
    struct Case {
        const char* path;
        const char* file;
        const char* type;
    };
    const Case cases[] = {
        {"/plexmon.ico", "plexmon.ico", "image/x-icon"},
        {"/quorvex.png", "quorvex.png", "image/png"},
        {"/quorvex_white.png", "quorvex_white.png", "image/png"},
        {"/taskmanager", "taskmanager.html", "text/html"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string body = readText(kResources / c.file);
        bool closed = false;
        // The second request is never answered: a static resource ends the connection.
        std::string received =
            converse(std::string("GET ") + c.path +
                         " HTTP/1.1\r\nHost: x\r\n\r\nGET /json/servers.json\r\n\r\n",
                     &closed);
        EXPECT_TRUE(closed);
        EXPECT_TRUE(
            received ==
            "HTTP/1.1 200 OK\r\nAllow: GET\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\nContent-Type: " + c.type +
                "\r\nCache-Control: public, max-age=3600\r\nConnection: Keep-Alive\r\n\r\n" + body)
            << received.substr(0, 300);
    }
    std::string css = converse("GET /style.css HTTP/1.1\r\n\r\n");
    Response style = nextResponse(css);
    EXPECT_EQ(style.headers,
              "HTTP/1.1 200 OK\r\nAllow: GET\r\nContent-Length: 1668\r\nContent-Type: text/css\r\n"
              "Cache-Control: public, max-age=3600\r\nConnection: Keep-Alive\r\n\r\n");
    EXPECT_TRUE(style.body.starts_with("body {font-family: Sans-serif}\n"));
    EXPECT_EQ(css, "");
}

TEST(HttpStatusPort, DynamicRoutesKeepTheConnectionForTheNextRequest) {
    StatusServer server;
    ASSERT_TRUE(server.ready()) << server.log();
    bool closed = false;
    // Sent together, so the server has the next request before its receive time-out.
    std::string stream = converse("GET /json/status.json HTTP/1.1\r\nHost: x\r\n\r\n"
                                  "GET / HTTP/1.1\r\n\r\n"
                                  "GET /json/servers.json HTTP/1.1\r\n\r\n",
                                  &closed);
    EXPECT_TRUE(closed); // after the client went quiet
    struct Expected {
        const char* type;
        const char* cache;
        const char* start;
        const char* end;
    };
    const Expected expected[] = {
        {"application/json", "private, max-age=0, no-cache", "{\"system\": {\"name\": \"", "]\n}"},
        {"text/html", "private, max-age=0, no-cache", "<html><head>", "</body></html>"},
        {"application/json", "public, max-age=3", "{\"servers\": [\n", "]\n}"},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.start);
        Response response = nextResponse(stream);
        EXPECT_EQ(response.headers, dynamicHeaders(response.body.size(), e.type, e.cache));
        EXPECT_TRUE(response.body.starts_with(e.start)) << response.body.substr(0, 200);
        // Each document ends in a line break, counted in its Content-Length.
        EXPECT_TRUE(response.body.ends_with(std::string(e.end) + "\r\n"))
            << response.body.substr(0, 200);
    }
    EXPECT_EQ(stream, "");
}

// Browsers connect before they know what they will ask; a busy one asks late.
TEST(HttpStatusPort, FirstRequestMayComeAfterAPause) {
    StatusServer server;
    ASSERT_TRUE(server.ready()) << server.log();
    int fd = connectTcp(kStatusPort);
    ASSERT_GE(fd, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string request = "GET /json/servers.json HTTP/1.1\r\n\r\n";
    ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(request.size()));
    char buffer[64] = {};
    EXPECT_EQ(::recv(fd, buffer, 17, MSG_WAITALL), 17);
    EXPECT_EQ(std::string(buffer), "HTTP/1.1 200 OK\r\n");
    ::close(fd);
}

TEST(HttpStatusPort, RequestsThatAreNotAnswered) {
    StatusServer server;
    ASSERT_TRUE(server.ready()) << server.log();
    struct Case {
        const char* request;
        const char* answer;
    };
    const Case cases[] = {
        {"GET /json/status.json?x=1 HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found\r\n\r\n"},
        {"GET /nothing HTTP/1.1\r\n\r\nGET / HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found\r\n\r\n"},
        {"POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", ""},
        {"HEAD / HTTP/1.1\r\n\r\n", ""},
        {"GET / HTTP/x.y\r\n\r\n", "Status-Line: HTTP/1.1 400 Bad Request\r\n\r\n"},
        {"\r\nGET / HTTP/1.1\r\n\r\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        bool closed = false;
        EXPECT_EQ(converse(c.request, &closed), c.answer);
        EXPECT_TRUE(closed);
    }
}

TEST(HttpStatusPort, HeaderLinesAreBoundedInLengthAndNumber) {
    StatusServer server;
    ASSERT_TRUE(server.ready()) << server.log();
    const std::string request = "GET /json/servers.json\r\n"; // no version: accepted
    std::string stream = converse(request + "X-Long: " + std::string(1000, 'a') + "\r\n\r\n");
    EXPECT_TRUE(nextResponse(stream).headers.starts_with("HTTP/1.1 200 OK\r\n"));

    // A line of 1024 characters ends the header block: the request is answered at once, and
    // what is left of the line reads as an empty request, which ends the connection.
    bool closed = false;
    stream =
        converse(request + "X-Long: " + std::string(1016, 'a') + "\r\nHost: x\r\n\r\n", &closed);
    EXPECT_TRUE(closed);
    Response answered = nextResponse(stream);
    EXPECT_TRUE(answered.headers.starts_with("HTTP/1.1 200 OK\r\n")) << answered.headers;
    EXPECT_TRUE(answered.body.starts_with("{\"servers\": [\n")) << answered.body;
    EXPECT_EQ(stream, ""); // nothing more was answered

    std::string lines = request;
    for (int line = 1; line < 100; ++line) {
        lines += "X-Line: " + std::to_string(line) + "\r\n";
    }
    stream = converse(lines + "\r\n");
    EXPECT_TRUE(nextResponse(stream).headers.starts_with("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(converse(lines + "X-Line: 100\r\n", &closed),
              "Status-Line: HTTP/1.1 400 Bad Request\r\n\r\n");
    EXPECT_TRUE(closed);
}

// Keep-alive sequences as real clients run them, each with its own framing rules: every
// response must end exactly where its Content-Length says.
TEST(HttpStatusPort, KeepAliveSequencesWithCurlHttpClientAndH11) {
    StatusServer server;
    ASSERT_TRUE(server.ready()) << server.log();
    const std::string base = "http://127.0.0.1:" + std::to_string(kStatusPort);
    auto curl = run({"curl",
                     "--silent",
                     "--show-error",
                     "--verbose",
                     "--max-time",
                     "20",
                     base + "/json/status.json",
                     base + "/",
                     base + "/json/servers.json",
                     "--output",
                     "/dev/null",
                     "--output",
                     "/dev/null",
                     "--output",
                     "/dev/null"});
    EXPECT_EQ(curl.exitCode, 0) << curl.errors;
    EXPECT_EQ(curl.errors.find("Excess found"), std::string::npos) << curl.errors;
    EXPECT_EQ(curl.errors.find("Leftovers after chunking"), std::string::npos) << curl.errors;

    // The system's interpreter, which the Debian package of h11 is installed for (another
    // python3 may come first on the PATH).
    auto python = run({"/usr/bin/python3",
                       (std::filesystem::path(PLEXMILL_SOURCE_DIR) /
                        "tests/integration/data/keep_alive_clients.py")
                           .string(),
                       std::to_string(kStatusPort)});
    EXPECT_EQ(python.output, "ok") << python.errors;
}

// An open connection that stops reading, on the client's side of the 64 places.
int stalledClient(const std::string& requests) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // Small segments and a small window: the server's send buffer fills after a few answers.
    int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    int segment = 536;
    ::setsockopt(fd, IPPROTO_TCP, TCP_MAXSEG, &segment, sizeof segment);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(kStatusPort);
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target), 0);
    EXPECT_EQ(::send(fd, requests.data(), requests.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(requests.size()));
    return fd;
}

// Connections of the status port whose answers wait for the client to read (Send-Q above 0).
std::size_t connectionsWaitingForTheirClient() {
    auto sockets = run({"ss", "-tnH", "state", "established", "( sport = :8080 )"});
    std::size_t waiting = 0;
    std::istringstream lines(sockets.output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream columns(line);
        std::uint64_t received = 0;
        std::uint64_t unsent = 0;
        if (columns >> received >> unsent && unsent > 0) {
            ++waiting;
        }
    }
    return waiting;
}

// True once the server has ended the connection (its end of stream or a reset came), without
// reading what it sent before: reading would make room for more.
bool endedByServer(int fd) {
    pollfd ended{fd, POLLRDHUP, 0};
    return ::poll(&ended, 1, 0) > 0 && (ended.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

TEST(HttpStatusPort, ClientsThatNeverReadHoldNeitherTheirPlacesNorOthersOut) {
    StatusServer server;
    ASSERT_TRUE(server.ready()) << server.log();
    std::string pipelined;
    for (int i = 0; i < 300; ++i) {
        pipelined += "GET / HTTP/1.1\r\n\r\n";
    }
    std::vector<int> stalled;
    for (int i = 0; i < 64; ++i) {
        stalled.push_back(stalledClient(pipelined));
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (connectionsWaitingForTheirClient() < 64 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_EQ(connectionsWaitingForTheirClient(), 64U);

    // Every place is held by a client that does not read; a new client is served all the same.
    std::string stream = converse("GET /json/servers.json HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(stream.starts_with("HTTP/1.1 200 OK\r\n")) << stream;

    // Past the send time-out on the server's clock, the clients that read nothing are dropped.
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::size_t ended = 0;
    while (ended < stalled.size() && std::chrono::steady_clock::now() < deadline) {
        server.home().advanceClock(11'000'000);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ended =
            static_cast<std::size_t>(std::count_if(stalled.begin(), stalled.end(), endedByServer));
    }
    EXPECT_EQ(ended, stalled.size());
    for (int fd : stalled) {
        ::close(fd);
    }
}

// A name from the lookup table with quotes and markup in it, as anyone who controls a lookup
// file or a PTR record could choose.
TEST(HttpStatusPort, HostileNamesStayTextInBothDocuments) {
    const std::string hostile = "Lab \"7\" <script>window.pwned=1</script> & {x}";
    TempFolder folder("plexmill-lookup");
    writeFile(folder / "lookup.txt",
              util::localHostName() + " ; " + hostile + "\nlocalhost ; " + hostile + "\n");
    StatusServer server({"--lookup", (folder / "lookup.txt").string()});
    ASSERT_TRUE(server.ready()) << server.log();

    std::string stream = converse("GET /json/status.json HTTP/1.1\r\n\r\n");
    Response status = nextResponse(stream);
    writeFile(folder / "status.json", status.body);
    auto parsed =
        run({"python3",
             "-c",
             "import json, sys\n"
             "d = json.load(open(sys.argv[1], encoding='utf-8'))\n"
             "assert d['system']['name'] == sys.argv[2], d['system']['name']\n"
             "assert d['system']['rating'] == 5000 and d['system']['os'] == 'Linux'\n"
             "assert d['service']['version'] == '14.1.0 build 42604' and d['service']['busy'] is "
             "False\n"
             "assert d['limits']['cacheSize'] == 34359738368 and d['stats']['failures'] == 0\n"
             "assert d['currentSessions'] == [] and d['closedSessions'] == []\n"
             "print('ok', end='')\n",
             (folder / "status.json").string(),
             hostile});
    EXPECT_EQ(parsed.output, "ok") << parsed.errors << status.body;

    stream = converse("GET / HTTP/1.1\r\n\r\n");
    std::string page = nextResponse(stream).body;
    EXPECT_EQ(page.find("<script>window.pwned"), std::string::npos);
    EXPECT_NE(
        page.find(
            "<h2>Lab &quot;7&quot; &lt;script&gt;window.pwned=1&lt;/script&gt; &amp; {x}</h2>"),
        std::string::npos)
        << page;
    // The connections so far are among the incoming connections, under the hostile name too.
    EXPECT_NE(page.find("&amp; {x} [127.0.0.1]</td><td>HTTP ["), std::string::npos) << page;
}

} // namespace
} // namespace tnw::test
