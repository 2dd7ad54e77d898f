// Shared by the status renderer tests: a Manager filled by hand, fake sessions, host names the
// test chooses, and a real JSON parser to read documents with.
#pragma once

#include "service/server/capacity.hpp"
#include "service/server/manager.hpp"
#include "service/server/settings.hpp"
#include "tests/support/child_process.hpp"
#include "tests/support/temp_folder.hpp"
#include "util/inet_address.hpp"
#include "util/name_resolver.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace plexmill::http::testing {

class FakeSession : public server::SessionState {
public:
    void close() override {}
};

inline tnw::util::Time unixTime(std::int64_t seconds) {
    return tnw::util::Time::fromUnixMicroseconds(seconds * 1'000'000);
}

inline std::uint32_t address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return std::uint32_t{a} << 24 | std::uint32_t{b} << 16 | std::uint32_t{c} << 8 | d;
}

// Puts the process-wide settings, rating and host-name lookups back as they were.
class StatusTest : public ::testing::Test {
protected:
    StatusTest() : saved_(server::settings()) { server::setSystemRating(5000); }
    ~StatusTest() override {
        server::settings() = saved_;
        tnw::util::NameResolver::setLookups({});
    }

    // Reverse lookups answer from `names`, or with the dotted address as the system does for
    // an address without a name. Answers are cached for the whole process, so every test uses
    // addresses of its own.
    static void useHostNames(std::map<std::uint32_t, std::string> names) {
        tnw::util::NameResolver::setLookups({[names](std::uint32_t address) {
                                                 auto found = names.find(address);
                                                 return found == names.end()
                                                            ? tnw::util::addressText(address)
                                                            : found->second;
                                             },
                                             {}});
    }

    std::shared_ptr<FakeSession> addSession(bool job) {
        auto session = std::make_shared<FakeSession>();
        tnw::util::Lock lock(tnw::util::globalLock());
        manager.listSession(session);
        if (job) {
            manager.markJobSession(*session);
        }
        return session;
    }

    server::Manager manager;

private:
    server::Settings saved_;
};

// Runs `script` with python3; the document is in the file named by sys.argv[1] and the
// further arguments follow it.
inline tnw::test::RunResult python(const std::string& script,
                                   const std::string& document,
                                   std::vector<std::string> arguments = {}) {
    tnw::test::TempFolder folder("plexmill-json");
    tnw::test::writeFile(folder / "document.json", document);
    std::vector<std::string> argv = {"python3", "-c", script, (folder / "document.json").string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return tnw::test::run(argv);
}

inline std::size_t occurrences(std::string_view text, std::string_view part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string_view::npos;
         at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

inline bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

} // namespace plexmill::http::testing
