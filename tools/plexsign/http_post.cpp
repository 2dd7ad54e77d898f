#include "tools/plexsign/http_post.hpp"

#include "util/environment.hpp"
#include "util/exception.hpp"

#include <curl/curl.h>
#include <memory>
#include <string_view>

namespace plexmill::plexsign {

using tnw::util::Exception;
using tnw::util::raise;

namespace {

// Replies larger than this are no time-stamp replies.
constexpr std::size_t kMaximumReply = std::size_t{4} * 1024 * 1024;
// An authority that has moved redirects once or twice; more is a loop or a captive portal.
constexpr long kMaximumRedirects = 5;
constexpr const char* kProtocols = "http,https";

using EasyHandle = std::unique_ptr<CURL, decltype(&::curl_easy_cleanup)>;
using UrlHandle = std::unique_ptr<CURLU, decltype(&::curl_url_cleanup)>;
using HeaderList = std::unique_ptr<curl_slist, decltype(&::curl_slist_free_all)>;

struct Target {
    UrlHandle url{nullptr, &::curl_url_cleanup};
    std::string host;
    std::string authority; // host:port, as messages name the server
};

struct Reply {
    std::string statusLine; // of the last response, the one whose body is kept
    std::string body;
    bool tooLarge = false;
};

// libcurl must be set up once, before any other call, and is never torn down: plexsign
// posts at most once and then ends.
void initialiseLibcurl() {
    static const bool ready = [] {
        if (::curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            raise(Exception("cannot initialise libcurl"));
        }
        return true;
    }();
    static_cast<void>(ready);
}

std::string urlPart(const UrlHandle& url, CURLUPart which, unsigned int flags) {
    char* text = nullptr;
    if (::curl_url_get(url.get(), which, &text, flags) != CURLUE_OK || text == nullptr) {
        return {};
    }
    std::string result(text);
    ::curl_free(text);
    return result;
}

Target parseUrl(const std::string& text) {
    Target target;
    target.url.reset(::curl_url());
    if (!target.url) {
        raise(Exception("out of memory"));
    }
    // Any scheme is parsed, so that the refusal below can say which ones plexsign speaks.
    if (::curl_url_set(target.url.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
        CURLUE_OK) {
        raise(Exception("not a usable address: '" + text + "'"));
    }
    const std::string scheme = urlPart(target.url, CURLUPART_SCHEME, 0);
    if (scheme != "http" && scheme != "https") {
        raise(Exception("only http:// and https:// addresses are supported: '" + text + "'"));
    }
    target.host = urlPart(target.url, CURLUPART_HOST, 0);
    if (target.host.empty()) {
        raise(Exception("not a usable address: '" + text + "'"));
    }
    target.authority = target.host + ":" + urlPart(target.url, CURLUPART_PORT, CURLU_DEFAULT_PORT);
    return target;
}

std::size_t keepBody(char* data, std::size_t, std::size_t size, void* context) {
    auto& reply = *static_cast<Reply*>(context);
    if (reply.body.size() + size > kMaximumReply) {
        reply.tooLarge = true;
        return 0; // libcurl ends the transfer with a write error
    }
    reply.body.append(data, size);
    return size;
}

std::size_t keepStatusLine(char* data, std::size_t, std::size_t size, void* context) {
    auto& reply = *static_cast<Reply*>(context);
    std::string_view line(data, size);
    if (line.starts_with("HTTP/")) {
        // A new response begins (after a redirect or an interim 100): only its body counts.
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
            line.remove_suffix(1);
        }
        reply.statusLine = line;
        reply.body.clear();
    }
    return size;
}

// The reason phrase of "HTTP/1.1 500 Internal Server Error"; HTTP/2 sends none.
std::string reasonPhrase(const std::string& statusLine) {
    const auto codeStart = statusLine.find(' ');
    const auto reasonStart =
        codeStart == std::string::npos ? codeStart : statusLine.find(' ', codeStart + 1);
    return reasonStart == std::string::npos ? "" : statusLine.substr(reasonStart + 1);
}

template <typename Value> void setOption(const EasyHandle& easy, CURLoption option, Value value) {
    if (::curl_easy_setopt(easy.get(), option, value) != CURLE_OK) {
        raise(Exception("this libcurl lacks a feature plexsign needs (option " +
                        std::to_string(static_cast<int>(option)) + ")"));
    }
}

// The same trust as plexmilld's time-stamp check: OpenSSL's variables when they are set,
// libcurl's system bundle otherwise.
void setTrust(const EasyHandle& easy) {
    if (const std::string file = tnw::util::getEnvironment("SSL_CERT_FILE"); !file.empty()) {
        setOption(easy, CURLOPT_CAINFO, file.c_str());
    }
    if (const std::string folder = tnw::util::getEnvironment("SSL_CERT_DIR"); !folder.empty()) {
        setOption(easy, CURLOPT_CAPATH, folder.c_str());
    }
}

[[noreturn]] void raiseTransferFailure(CURLcode code,
                                       const char* errorText,
                                       const Target& target,
                                       const Reply& reply) {
    const std::string detail = *errorText != '\0' ? errorText : ::curl_easy_strerror(code);
    switch (code) {
    case CURLE_WRITE_ERROR:
    case CURLE_FILESIZE_EXCEEDED:
        if (reply.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
            raise(Exception("the reply is too large"));
        }
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
        raise(Exception("cannot resolve '" + target.host + "': " + detail));
    case CURLE_COULDNT_RESOLVE_PROXY:
        raise(Exception("cannot resolve the proxy: " + detail));
    case CURLE_COULDNT_CONNECT:
        raise(Exception("cannot connect to " + target.authority + ": " + detail));
    case CURLE_OPERATION_TIMEDOUT:
        raise(Exception("timed out waiting for the reply of " + target.authority));
    case CURLE_TOO_MANY_REDIRECTS:
        raise(Exception("the server redirected more than " + std::to_string(kMaximumRedirects) +
                        " times"));
    case CURLE_UNSUPPORTED_PROTOCOL:
        raise(Exception("the server redirected to an address that is not http:// or https://: " +
                        detail));
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
        raise(Exception("no trusted secure connection to " + target.authority + ": " + detail));
    default:
        break;
    }
    raise(Exception("the request to " + target.authority + " failed: " + detail));
}

} // namespace

std::vector<std::uint8_t> httpPost(const std::string& url,
                                   const std::string& contentType,
                                   std::span<const std::uint8_t> body,
                                   std::chrono::milliseconds timeout) {
    initialiseLibcurl();
    const Target target = parseUrl(url);
    const EasyHandle easy(::curl_easy_init(), &::curl_easy_cleanup);
    if (!easy) {
        raise(Exception("cannot initialise libcurl"));
    }
    // "Expect:" keeps libcurl from waiting for a 100 Continue that small servers never send.
    HeaderList headers(nullptr, &::curl_slist_free_all);
    for (const std::string& line : {"Content-Type: " + contentType, std::string("Expect:")}) {
        curl_slist* longer = ::curl_slist_append(headers.get(), line.c_str());
        if (longer == nullptr) {
            raise(Exception("out of memory"));
        }
        static_cast<void>(headers.release()); // the same list, one entry longer
        headers.reset(longer);
    }

    Reply reply;
    char errorText[CURL_ERROR_SIZE] = {};
    setOption(easy, CURLOPT_ERRORBUFFER, errorText);
    setOption(easy, CURLOPT_CURLU, target.url.get());
    setOption(easy, CURLOPT_PROTOCOLS_STR, kProtocols);
    setOption(easy, CURLOPT_REDIR_PROTOCOLS_STR, kProtocols);
    setOption(easy, CURLOPT_FOLLOWLOCATION, 1L);
    setOption(easy, CURLOPT_MAXREDIRS, kMaximumRedirects);
    setOption(
        easy, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_301 | CURL_REDIR_POST_302));
    setOption(easy, CURLOPT_POST, 1L);
    // Never a null pointer: with one, libcurl would read the body from standard input.
    static const std::uint8_t kNothing = 0;
    setOption(easy, CURLOPT_POSTFIELDS, body.empty() ? &kNothing : body.data());
    setOption(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    setOption(easy, CURLOPT_HTTPHEADER, headers.get());
    setOption(easy, CURLOPT_USERAGENT, "plexsign");
    setOption(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
    setOption(easy, CURLOPT_NOSIGNAL, 1L);
    setOption(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaximumReply));
    setOption(easy, CURLOPT_WRITEFUNCTION, &keepBody);
    setOption(easy, CURLOPT_WRITEDATA, &reply);
    setOption(easy, CURLOPT_HEADERFUNCTION, &keepStatusLine);
    setOption(easy, CURLOPT_HEADERDATA, &reply);
    setTrust(easy);

    if (const CURLcode code = ::curl_easy_perform(easy.get()); code != CURLE_OK) {
        raiseTransferFailure(code, errorText, target, reply);
    }
    long status = 0;
    ::curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) {
        const std::string reason = reasonPhrase(reply.statusLine);
        raise(Exception("the server answered HTTP " + std::to_string(status) +
                        (reason.empty() ? "" : " " + reason)));
    }
    return {reply.body.begin(), reply.body.end()};
}

} // namespace plexmill::plexsign
