#include "service/protocol/client_identity.hpp"

#include <gtest/gtest.h>

namespace plexmill::protocol {
namespace {

TEST(ClientIdentity, KeepsLettersDigitsBlanksDotsAndUnderscores) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"John Doe-Smith/2", "John DoeSmith2"},
        {"CAM_suite 2.1", "CAM_suite 2.1"},
        {"-/", ""},
        {"", ""},
        {"J\xc3\xb6rg", "Jrg"},
        {"tab\there\r", "tabhere"},
        {std::string_view("a\0b", 3), "ab"},
        {"<script>", "script"},
    };
    for (const auto& [text, kept] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(filterClientIdentity(text), kept);
    }
}

} // namespace
} // namespace plexmill::protocol
