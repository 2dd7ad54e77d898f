#include "service/cli/reply_texts.hpp"

#include <cerrno>
#include <cstdlib>
#include <map>

#include "service/protocol/numbers.hpp"
#include "service/protocol/platform_name.hpp"
#include "service/server/peer_display_name.hpp"
#include "util/durations.hpp"
#include "util/format.hpp"
#include "util/sizes.hpp"
#include "util/time.hpp"

namespace plexmill::cli {

namespace {

std::optional<double> parseFraction(std::string_view value) {
    std::string text(value);
    if (text.empty()) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    double number = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || (number == 0.0 && errno == ERANGE)) {
        return std::nullopt;
    }
    return number;
}

std::optional<std::string> localTimeText(std::string_view value) {
    auto micros = protocol::parseSigned64(value);
    if (!micros) {
        return std::nullopt;
    }
    return tnw::util::Time(static_cast<std::uint64_t>(*micros)).toLocal().toText();
}

std::optional<std::string> megabytes(std::string_view value) {
    auto bytes = protocol::parseSigned64(value);
    if (!bytes) {
        return std::nullopt;
    }
    return std::to_string(*bytes / 1048576) + "Mb";
}

std::string yesNo(std::string_view value) { return value == "YES" ? "Yes" : "No"; }

} // namespace

std::optional<std::string> infoLineText(std::string_view key, std::string_view value, bool withFrequency) {
    static const std::map<std::string_view, const char*> plain = {
        {"CPUS", "Number of logical CPUs"}, {"ARCH", "Architecture"},
        {"DESCRIPTION", "Description"},     {"VERSION", "Version"},
        {"RATING", "Rating"},               {"OPEN_SESSIONS", "Number of open sessions"},
        {"TOTAL_SESSIONS", "Number of total sessions"},
    };
    if (auto label = plain.find(key); label != plain.end()) {
        return std::string(label->second) + ": " + std::string(value);
    }
    std::optional<std::string> shown;
    const char* label = nullptr;
    if (key == "MEASURED_FREQUENCY") {
        if (!withFrequency) {
            return std::nullopt;
        }
        label = "Measured frequency";
        if (auto hertz = protocol::parseSigned64(value)) {
            auto megahertz = static_cast<std::int32_t>(*hertz / 1000000);
            shown = tnw::util::format("%1GHz", megahertz / 1000.0);
        }
    } else if (key == "OS") {
        label = "Operating system";
        shown = protocol::platformDisplayName(std::string(value));
    } else if (key == "ACCEPT_REMOTE") {
        label = "Accepting remote";
        shown = yesNo(value);
    } else if (key == "HTTP") {
        label = "Accepting HTTP";
        shown = yesNo(value);
    } else if (key == "PHYSICAL_MEMORY") {
        label = "Physical memory";
        shown = megabytes(value);
    } else if (key == "AVAILABLE_MEMORY") {
        label = "Available memory";
        shown = megabytes(value);
    } else if (key == "RUNNING_SINCE") {
        label = "Running since";
        shown = localTimeText(value);
    } else if (key == "USAGE") {
        label = "Usage";
        shown = std::string(value) + "%";
    }
    if (label == nullptr || !shown) {
        return std::nullopt;
    }
    return std::string(label) + ": " + *shown;
}

std::optional<std::string> sessionLineText(std::string_view key, std::string_view value) {
    if (key == "HOST") {
        return "Host: " + server::peerDisplayName(std::string(value.substr(0, value.find(':'))));
    }
    if (key == "SINCE") {
        auto text = localTimeText(value);
        return text ? std::optional<std::string>("Since: " + *text) : std::nullopt;
    }
    if (key == "PROCESSING_TIME") {
        auto micros = protocol::parseSigned64(value);
        return micros ? std::optional<std::string>("Processing time: " +
                                                   tnw::util::formatElapsed(static_cast<std::uint64_t>(*micros)))
                      : std::nullopt;
    }
    if (key == "MEMORY_USAGE") {
        auto bytes = protocol::parseSigned64(value);
        return bytes && *bytes >= 1 ? std::optional<std::string>("Memory usage: " + tnw::util::formatSizeShort(*bytes))
                                    : std::nullopt;
    }
    if (key == "CPU_USAGE") {
        auto fraction = parseFraction(value);
        return fraction ? std::optional<std::string>("CPU usage: " + tnw::util::formatPrintf("%.1f%%", *fraction * 100))
                        : std::nullopt;
    }
    if (key == "STATE") {
        std::string state = value == "WAITING" ? "waiting" : value == "PROCESSING" ? "processing" : std::string(value);
        return "Status: " + state;
    }
    if (key == "APPLICATION") {
        return "Application: " + std::string(value);
    }
    if (key == "USER") {
        return "User: " + std::string(value);
    }
    return std::nullopt;
}

} // namespace plexmill::cli
