#include "service/cli/command_line.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>

#include "util/files.hpp"
#include "util/name_resolution.hpp"
#include "util/name_resolver.hpp"

namespace plexmill::cli {

std::optional<std::uint32_t> parseUnsigned32(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > 0xFFFFFFFFULL) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(value);
}

std::string filterDescription(const std::string& text) {
    std::string kept;
    for (char c : text) {
        auto code = static_cast<unsigned char>(c);
        if (code >= 32 && code <= 127 && c != '"' && c != '\'' && c != '<' && c != '>' && c != '\\') {
            kept += c;
        }
    }
    return kept;
}

// A rating is a finite, non-negative number; "nan" and "inf" are refused like other texts that
// are not ratings, since every comparison and sum of ratings would go wrong with them.
std::optional<double> parseRating(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || (value == 0.0 && errno == ERANGE) || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

namespace {

struct Reader {
    int argc;
    const char* const* argv;
    int next = 1;
    CommandLine& line;
    server::Settings& settings;
    ParseOutcome outcome;
    std::size_t positionals = 0; // positional arguments of the selected command so far

    bool fail(std::string message) {
        outcome.action = ParseOutcome::Action::Fail;
        outcome.error = std::move(message);
        return false;
    }

    // The option's value: always the next argument, whatever it looks like.
    std::optional<std::string> value() {
        if (next >= argc) {
            return std::nullopt;
        }
        return std::string(argv[next++]);
    }

    bool selectCommand(Command command) {
        if (line.command != Command::None) {
            return fail("Command already selected.");
        }
        line.command = command;
        return true;
    }

    bool port(std::uint16_t& target, const char* missing, const char* invalid) {
        auto text = value();
        if (!text) {
            return fail(missing);
        }
        auto number = parseUnsigned32(*text);
        if (!number || *number > 65535) {
            return fail(invalid);
        }
        target = static_cast<std::uint16_t>(*number);
        return true;
    }

    bool number(const char* missing, const std::function<void(std::uint32_t)>& store) {
        auto text = value();
        auto parsed = text ? parseUnsigned32(*text) : std::nullopt;
        if (!parsed) {
            return fail(missing);
        }
        store(*parsed);
        return true;
    }

    bool option(const std::string& word);
    bool positional(const std::string& argument);
};

bool Reader::option(const std::string& word) {
    using A = ParseOutcome::Action;
    if (word == "help") {
        outcome.action = A::ShowHelp;
        return false;
    }
    if (word == "version") {
        outcome.action = A::ShowVersion;
        return false;
    }
    if (word == "time") {
        auto text = value();
        auto dash = text ? text->find('-') : std::string::npos;
        if (dash == std::string::npos) {
            return fail("Expecting time period.");
        }
        auto start = parseUnsigned32(text->substr(0, dash));
        auto end = parseUnsigned32(text->substr(dash + 1));
        if (!start || !end) {
            return fail("Expecting time period.");
        }
        settings.allowedTimes.push_back({*start, *end});
        return true;
    }
    if (word == "timeout") {
        return number("Expecting timeout period.", [&](std::uint32_t minutes) {
            settings.sessionTimeout = std::uint64_t{minutes} * 60'000'000ULL;
        });
    }
    if (word == "size") {
        return number("Expecting size.", [&](std::uint32_t mebibytes) {
            settings.maximumDataSize = std::uint64_t{mebibytes} * 1'048'576ULL;
        });
    }
    if (word == "sessions") {
        return number("Expecting count.", [&](std::uint32_t count) { settings.maximumSessionsLimit = count; });
    }
    if (word == "description") {
        auto text = value();
        if (!text) {
            return fail("Expecting description.");
        }
        settings.description += filterDescription(*text);
        return true;
    }
    if (word == "rating") {
        auto text = value();
        auto rating = text ? parseRating(*text) : std::nullopt;
        if (!rating) {
            return fail("Expecting system rating.");
        }
        if (*rating < 0) {
            return fail("Invalid system rating.");
        }
        settings.ratingOverride = *rating;
        return true;
    }
    if (word == "allow") {
        auto text = value();
        if (!text) {
            return fail("Expecting IP address.");
        }
        auto parsed = tnw::util::parseAddress(*text);
        std::uint32_t address = parsed ? *parsed : tnw::util::NameResolver::lookupAddress(*text);
        if (address == 0) {
            return fail("Invalid host address.");
        }
        settings.allowedClients.insert(address);
        return true;
    }
    if (word == "kernel") {
        auto text = value();
        if (!text) {
            return fail("Expecting CAM kernel folder.");
        }
        if (!tnw::util::isFolder(*text)) {
            return fail("Invalid CAM kernel folder.");
        }
        settings.fixedKernel = *text;
        return true;
    }
    if (word == "include") {
        auto text = value();
        if (!text || !tnw::util::isFolder(*text)) {
            return fail("Expecting include CAM kernel root folder.");
        }
        settings.includePaths.push_back(*text);
        return true;
    }
    if (word == "lookup") {
        auto text = value();
        if (!text || !tnw::util::exists(*text) || tnw::util::isFolder(*text)) {
            return fail("Expecting lookup file.");
        }
        settings.lookupFile = *text;
        return true;
    }
    if (word == "port") {
        return port(line.firewallPorts.sessionPort, "Expecting port.", "Invalid port.");
    }
    if (word == "broadcast") {
        return port(line.firewallPorts.advertisePort, "Expecting broadcast port.", "Invalid broadcast port.");
    }
    if (word == "interface") {
        return value() ? true : fail("Expecting interface.");
    }

    static const std::map<std::string, bool server::Settings::*> flags = {
        {"keep", &server::Settings::keep},         {"x86", &server::Settings::x86},
        {"http", &server::Settings::http},         {"color", &server::Settings::color},
        {"cloud", &server::Settings::cloud},       {"noverify", &server::Settings::noverify},
        {"nocache", &server::Settings::nocache},
    };
    if (auto flag = flags.find(word); flag != flags.end()) {
        settings.*(flag->second) = true;
        return true;
    }
    if (word == "verbose") {
        settings.verbose = true;
        return true;
    }
    if (word == "debug") {
        settings.verbose = settings.debug = true;
        return true;
    }
    if (word == "quiet") {
        settings.quiet = true;
        settings.verbose = settings.debug = false;
        return true;
    }
    if (word == "asserts") {
        return true;
    }

    static const std::map<std::string, Command> commands = {
        {"start", Command::Start},
        {"stop", Command::Stop},
        {"pause", Command::Pause},
        {"resume", Command::Resume},
        {"restart", Command::Restart},
        {"reload", Command::Reload},
        {"disablehttp", Command::DisableHttp},
        {"enablehttp", Command::EnableHttp},
        {"install", Command::Install},
        {"uninstall", Command::Uninstall},
        {"cert", Command::Cert},
        {"console", Command::Console},
        {"run", Command::Console},
        {"connect", Command::Connect},
        {"iscached", Command::IsCached},
        {"status", Command::Status},
        {"list", Command::List},
        {"checkfirewall", Command::CheckFirewall},
        {"configfirewall", Command::ConfigFirewall},
    };
    auto command = commands.find(word);
    if (command == commands.end()) {
        return fail("Unsupported option.");
    }
    if (!selectCommand(command->second)) {
        return false;
    }
    switch (command->second) {
    case Command::Connect:
    case Command::IsCached:
        if (auto host = value()) {
            line.targetHost = *host;
            return true;
        }
        return fail("Expecting server address.");
    case Command::Status:
        line.targetHost.clear();
        return true;
    case Command::Install:
        if (next < argc && argv[next][0] != '-') {
            line.installPath = argv[next++];
        }
        return true;
    default:
        return true;
    }
}

bool Reader::positional(const std::string& argument) {
    std::size_t index = positionals++;
    switch (line.command) {
    case Command::Connect:
        if (index == 0) {
            line.jobFile = argument;
        } else if (index == 1) {
            line.resultFile = argument;
        } else {
            line.furtherFiles.push_back(argument);
        }
        return true;
    case Command::IsCached:
        if (index == 0) {
            line.jobFile = argument;
        }
        return true; // later ones are ignored
    case Command::Status:
        if (index == 0) {
            line.targetHost = argument;
            return true;
        }
        return fail("Unsupported argument.");
    default:
        return fail("Unsupported argument.");
    }
}

} // namespace

ParseOutcome parseCommandLine(int argc, const char* const* argv, CommandLine& line,
                              server::Settings& settings) {
    Reader reader{argc, argv, 1, line, settings, {}};
    while (reader.next < argc) {
        std::string argument = argv[reader.next++];
        bool carryOn = argument.size() >= 3 && argument.starts_with("--")
                           ? reader.option(argument.substr(2))
                           : reader.positional(argument);
        if (!carryOn) {
            break;
        }
    }
    return reader.outcome;
}

} // namespace plexmill::cli
