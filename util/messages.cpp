#include "util/messages.hpp"

#include "util/text.hpp"

#include <array>
#include <utility>

namespace tnw::util {

namespace {

struct Language {
    std::string_view code;
    std::uint32_t id;
};

constexpr std::array<Language, 29> kLanguages{{
    {"de", 1031}, {"dk", 1030}, {"en", 1033}, {"fi", 1035}, {"fr", 1036}, {"it", 1040},
    {"jp", 1041}, {"se", 1053}, {"bz", 1046}, {"cz", 1029}, {"cn", 1028}, {"tw", 31748},
    {"nl", 1043}, {"kr", 1042}, {"pl", 1045}, {"pt", 1046}, {"no", 1044}, {"es", 1034},
    {"is", 1039}, {"gr", 1032}, {"lt", 1063}, {"ee", 1061}, {"hr", 1050}, {"tr", 1055},
    {"ru", 1049}, {"si", 1060}, {"ro", 1048}, {"lv", 1062}, {"il", 1037},
}};

} // namespace

std::uint32_t languageId(std::string_view code) {
    std::string lower = toLowerAscii(code);
    for (const Language& language : kLanguages) {
        if (language.code == lower) {
            return language.id;
        }
    }
    return kLanguageEnglishUnitedStates;
}

void MessageCatalog::registerTable(const std::string& name,
                                   const std::string& languageCode,
                                   Texts texts) {
    std::lock_guard lock(mutex_);
    Table& table = tables_[name];
    table.languageCode = languageCode;
    table.texts = std::move(texts);
}

bool MessageCatalog::selectLanguage(std::string_view languageCode) {
    std::lock_guard lock(mutex_);
    for (auto& [name, table] : tables_) {
        if (table.languageCode == languageCode) {
            active_ = &table;
            return true;
        }
    }
    return false;
}

std::string MessageCatalog::text(MessageId id) {
    std::lock_guard lock(mutex_);
    if (active_ == nullptr) {
        return {};
    }
    if (auto found = active_->texts.find(id.value); found != active_->texts.end()) {
        return found->second;
    }
    auto builtIn = tables_.find(std::string_view(kBuiltInName));
    if (builtIn == tables_.end()) {
        return kNoBuiltInText;
    }
    auto fallback = builtIn->second.texts.find(id.value);
    if (fallback == builtIn->second.texts.end()) {
        return {};
    }
    active_->texts.emplace(id.value, fallback->second);
    return fallback->second;
}

std::uint32_t MessageCatalog::activeLanguageId() const {
    std::lock_guard lock(mutex_);
    return active_ == nullptr ? kLanguageEnglishUnitedStates : languageId(active_->languageCode);
}

MessageCatalog& messageCatalog() {
    static MessageCatalog catalog;
    return catalog;
}

void registerBuiltInMessages(MessageCatalog& catalog) {
    catalog.registerTable(
        MessageCatalog::kBuiltInName,
        "en",
        {
            {message::kFailedToAllocateMemory.value, "Failed to allocate memory."},
            {message::kStreamNotOpen.value, "Stream is not open."},
            {message::kNotConnected.value, "Not connected."},
            {message::kUnableToOpenFile.value, "Unable to open the file '%1'."},
        });
    catalog.selectLanguage("en");
}

} // namespace tnw::util
