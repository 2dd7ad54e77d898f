#include "service/http/http_connection.hpp"

#include "util/exception.hpp"

namespace plexmill::http {

namespace {

void requireSocket(const tnw::util::Socket& socket) {
    if (!socket) {
        tnw::util::raise(tnw::util::IOException("Not connected."));
    }
}

} // namespace

std::string HttpConnection::readLine() {
    requireSocket(socket_);
    std::string line;
    for (;;) {
        if (position_ == size_ && !receive()) {
            return {};
        }
        std::string_view available(buffer_.data() + position_, size_ - position_);
        std::string_view part = available.substr(0, kMaximumLineLength - line.size());
        if (std::size_t end = part.find('\n'); end != std::string_view::npos) {
            line.append(part.substr(0, end));
            position_ += end + 1;
            if (line.ends_with('\r')) {
                line.pop_back();
            }
            return line;
        }
        line.append(part);
        position_ += part.size();
        if (line.size() == kMaximumLineLength) {
            return {};
        }
    }
}

void HttpConnection::write(std::string_view bytes) {
    requireSocket(socket_);
    socket_.sendAll(bytes.data(), bytes.size(), sendTimeout_);
}

bool HttpConnection::receive() {
    size_ = socket_.receive(buffer_.data(), buffer_.size());
    position_ = 0;
    return size_ != 0;
}

} // namespace plexmill::http
