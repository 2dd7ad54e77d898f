// Message tables: texts looked up by number, one table per language, with the built-in
// English table as the fallback for numbers a translation lacks.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace tnw::util {

struct MessageId {
    std::uint32_t value = 0;
};

// The library's own texts in the built-in table.
namespace message {
inline constexpr MessageId kFailedToAllocateMemory{1};
inline constexpr MessageId kStreamNotOpen{2};
inline constexpr MessageId kNotConnected{3};
inline constexpr MessageId kUnableToOpenFile{4}; // %1: the path
} // namespace message

inline constexpr std::uint32_t kLanguageEnglishUnitedStates = 1033;

// The Windows language identifier of a two-letter code ("de" 1031, "en" 1033, ...); unknown
// codes, "built-in" among them, give 1033. Case does not matter.
std::uint32_t languageId(std::string_view code);

class MessageCatalog {
public:
    static constexpr char kBuiltInName[] = "Built-in";
    static constexpr char kNoBuiltInText[] =
        "Internal error: Native locale has not been registered.";

    using Texts = std::map<std::uint32_t, std::string>;

    // A table registered again under the same name replaces the earlier one's texts.
    void registerTable(const std::string& name, const std::string& languageCode, Texts texts);
    // Makes the table registered with this code active; false (nothing changes) when none is.
    bool selectLanguage(std::string_view languageCode);

    // The text of `id` in the active table. A number the active table lacks takes the built-in
    // table's text, which the active table keeps from then on; without a built-in table it is
    // kNoBuiltInText. Empty when no table is active or neither table knows the number.
    std::string text(MessageId id);
    // languageId() of the active table's code; 1033 when none is active.
    std::uint32_t activeLanguageId() const;

private:
    struct Table {
        std::string languageCode;
        Texts texts;
    };
    mutable std::mutex mutex_;
    std::map<std::string, Table, std::less<>> tables_; // by name; elements never move
    Table* active_ = nullptr;
};

// The process-wide catalog that formatting and time texts consult.
MessageCatalog& messageCatalog();

// Registers the built-in English table as "Built-in" with code "en" and selects "en".
void registerBuiltInMessages(MessageCatalog& catalog = messageCatalog());

} // namespace tnw::util
