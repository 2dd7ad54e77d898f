#include "service/http/metrics.hpp"

#include "service/server/capacity.hpp"
#include "service/server/refusals.hpp"
#include "util/system_info.hpp"
#include "util/version.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <type_traits>

namespace plexmill::http {

namespace {

// Shortest text that reads back as the same double; Prometheus parses Go floats.
std::string sampleValue(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "+Inf" : "-Inf";
    }
    char text[32];
    auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

template <class Number> std::string sampleValue(Number value) requires std::is_integral_v<Number> {
    return std::to_string(value);
}

// Label values escape backslash, double quote and line feed.
std::string labelValue(std::string_view text) {
    std::string escaped;
    for (char c : text) {
        if (c == '\\' || c == '"') {
            escaped += '\\';
            escaped += c;
        } else if (c == '\n') {
            escaped += "\\n";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

class Exposition {
public:
    template <class Value>
    void add(std::string_view name, std::string_view type, std::string_view help, Value value) {
        family(name, type, help);
        sample(name, "", value);
    }
    void family(std::string_view name, std::string_view type, std::string_view help) {
        text_ += "# HELP " + std::string(name) + " " + std::string(help) + "\n";
        text_ += "# TYPE " + std::string(name) + " " + std::string(type) + "\n";
    }
    template <class Value>
    void sample(std::string_view name, std::string_view labels, Value value) {
        text_ += std::string(name);
        if (!labels.empty()) {
            text_ += "{" + std::string(labels) + "}";
        }
        text_ += " " + sampleValue(value) + "\n";
    }
    std::string take() { return std::move(text_); }

private:
    std::string text_;
};

} // namespace

std::string metricsText(const server::Manager& manager, Requester requester) {
    StatusSnapshot snapshot = takeSnapshot(manager, SnapshotLimits{0, 0});
    const server::Statistics& statistics = snapshot.statistics;
    Exposition out;
    out.add("plexmill_sessions_open", "gauge", "Sessions connected now.", snapshot.openSessions);
    out.add("plexmill_job_sessions",
            "gauge",
            "Sessions running a job now.",
            snapshot.jobSessions.size());
    out.add("plexmill_maximum_sessions",
            "gauge",
            "Job sessions the server runs at once.",
            manager.config.maximumSessions);
    out.add("plexmill_sessions_total",
            "counter",
            "Sessions since the server started.",
            snapshot.totalSessions);
    out.add("plexmill_session_failures_total",
            "counter",
            "Sessions that ended in failure.",
            statistics.failures);
    out.add("plexmill_tcp_requests_total",
            "counter",
            "Connections to the session port.",
            manager.numberOfTCPRequests.load());
    out.add("plexmill_udp_requests_total",
            "counter",
            "Discovery datagrams received.",
            manager.numberOfUDPRequests.load());
    out.add("plexmill_received_bytes_total",
            "counter",
            "Bytes received from clients.",
            statistics.dataReceived);
    out.add("plexmill_sent_bytes_total", "counter", "Bytes sent to clients.", statistics.dataSent);
    out.add("plexmill_processing_seconds_total",
            "counter",
            "Processor time of finished jobs.",
            seconds(statistics.processingTime));
    out.add("plexmill_elapsed_seconds_total",
            "counter",
            "Wall time of finished jobs.",
            seconds(statistics.elapsedTime));
    out.add("plexmill_file_cache_size_bytes",
            "gauge",
            "Bytes held in the file cache.",
            snapshot.cacheTotalSize);
    out.add("plexmill_file_cache_entries",
            "gauge",
            "Files held in the file cache.",
            snapshot.cacheEntries);
    out.add("plexmill_file_cache_hits_total",
            "counter",
            "Uploads the file cache answered.",
            snapshot.cacheHits);
    out.add("plexmill_file_cache_reuse_bytes_total",
            "counter",
            "Bytes the file cache saved clients from sending.",
            snapshot.cacheHitBytes);
    out.add(
        "plexmill_known_servers", "gauge", "Servers heard on the network.", snapshot.knownServers);
    out.add("plexmill_cpu_usage_ratio",
            "gauge",
            "Processor usage of the machine, 0 to 1.",
            snapshot.cpuUsage);
    out.add("plexmill_processors",
            "gauge",
            "Logical processors available to the server.",
            tnw::util::SystemInfo::processorCount());
    out.add("plexmill_memory_available_bytes",
            "gauge",
            "Available physical memory.",
            snapshot.memory.availablePhysical);
    out.add("plexmill_memory_total_bytes",
            "gauge",
            "Total physical memory.",
            snapshot.memory.totalPhysical);
    out.add("plexmill_memory_in_use_bytes",
            "gauge",
            "Memory of the server and its jobs.",
            snapshot.memoryInUse);
    out.add("plexmill_rating", "gauge", "System rating.", server::knownSystemRating());
    out.add("plexmill_start_time_seconds",
            "gauge",
            "When the server started, seconds since 1970.",
            unixSeconds(processStartTime()));
    out.add("plexmill_accepting",
            "gauge",
            "1 while the server takes new work, else 0.",
            snapshot.accepting ? 1 : 0);

    server::Refusals refusals = server::refusalsFor(snapshot.refusals, requester);
    out.family(
        "plexmill_refusing",
        "gauge",
        "1 while this reason keeps the server from taking work (allowList: for the scraper).");
    for (const server::RefusalName& name : server::refusalNames()) {
        out.sample("plexmill_refusing",
                   "reason=\"" + labelValue(name.key) + "\"",
                   refusals.has(name.refusal) ? 1 : 0);
    }

    out.family("plexmill_build_info", "gauge", "Version of the running server; the value is 1.");
    out.sample("plexmill_build_info",
               "version=\"" + labelValue(tnw::util::versionText()) + "\",revision=\"" +
                   std::to_string(tnw::util::kRevision) + "\",platform=\"" +
                   labelValue(tnw::util::SystemInfo::platformName()) + "\"",
               1);
    return out.take();
}

Answer metricsAnswer(const server::Manager& manager, Requester requester) {
    std::string body = metricsText(manager, requester);
    std::string bytes = "HTTP/1.1 200 OK\r\n";
    bytes += contentHeaders(body.size(), "text/plain; version=0.0.4", "charset=utf-8");
    bytes += "Cache-Control: private, max-age=0, no-cache\r\nConnection: Keep-Alive\r\n\r\n";
    bytes += body;
    return Answer{std::move(bytes), true};
}

} // namespace plexmill::http
