#include "util/messages.hpp"

#include <gtest/gtest.h>

namespace tnw::util {
namespace {

TEST(LanguageId, MapsCodesAndFallsBackToEnglish) {
    struct Case {
        const char* code;
        std::uint32_t id;
    };
    const Case cases[] = {
        {"de", 1031},
        {"en", 1033},
        {"tw", 31748},
        {"bz", 1046},
        {"pt", 1046},
        {"il", 1037},
        {"DE", 1031},
        {"built-in", 1033},
        {"xx", 1033},
        {"", 1033},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(languageId(c.code), c.id);
    }
}

TEST(MessageCatalog, NoActiveTableGivesEmptyTexts) {
    MessageCatalog catalog;
    EXPECT_EQ(catalog.text(MessageId{1}), "");
    EXPECT_EQ(catalog.activeLanguageId(), 1033U);
    EXPECT_FALSE(catalog.selectLanguage("en"));
    EXPECT_EQ(catalog.text(MessageId{1}), "");
}

TEST(MessageCatalog, TranslationFallsBackToTheBuiltInTableAndKeepsTheText) {
    MessageCatalog catalog;
    catalog.registerTable("Deutsch", "de", {{1, "Eins"}});
    ASSERT_TRUE(catalog.selectLanguage("de"));
    EXPECT_EQ(catalog.activeLanguageId(), 1031U);
    EXPECT_EQ(catalog.text(MessageId{1}), "Eins");
    // Without a built-in table nothing can stand in.
    EXPECT_EQ(catalog.text(MessageId{2}), "Internal error: Native locale has not been registered.");

    catalog.registerTable("Built-in", "en", {{2, "Two"}});
    EXPECT_EQ(catalog.text(MessageId{2}), "Two");
    EXPECT_EQ(catalog.text(MessageId{3}), ""); // neither table knows it
    // The translation keeps the text it borrowed, even when the built-in table changes.
    catalog.registerTable("Built-in", "en", {{2, "Zwei?"}});
    EXPECT_EQ(catalog.text(MessageId{2}), "Two");
}

TEST(MessageCatalog, BuiltInTableIsEnglish) {
    MessageCatalog catalog;
    registerBuiltInMessages(catalog);
    EXPECT_EQ(catalog.activeLanguageId(), 1033U);
    EXPECT_EQ(catalog.text(message::kFailedToAllocateMemory), "Failed to allocate memory.");
    EXPECT_EQ(catalog.text(message::kUnableToOpenFile), "Unable to open the file '%1'.");
}

} // namespace
} // namespace tnw::util
