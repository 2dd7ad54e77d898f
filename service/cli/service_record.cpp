#include "service/cli/service_record.hpp"

#include "service/server/service_identity.hpp"
#include "util/registry.hpp"

namespace plexmill::cli {

namespace {

using tnw::util::Registry;
using tnw::util::RegistryAccess;
using tnw::util::RegistryRoot;

// The record's values by their Windows numbers.
constexpr std::uint32_t kOwnProcess = 0x10;
constexpr std::uint32_t kAutomaticStart = 2;
constexpr std::uint32_t kErrorControlIgnore = 0;
constexpr std::uint32_t kTypesSupported = 7; // error, warning and information
constexpr char kLocalSystem[] = "LocalSystem";

} // namespace

std::optional<ServiceRecord> readServiceRecord() {
    auto key =
        Registry::open(RegistryRoot::LocalMachine, server::kServiceKey, RegistryAccess::Read);
    auto imagePath = Registry::query(key, "ImagePath");
    if (!imagePath) {
        return std::nullopt;
    }
    return ServiceRecord{Registry::readString(key, "ImagePath")};
}

bool writeServiceRecord(const std::string& program) {
    // A quote would end the image path early.
    if (program.find('"') != std::string::npos) {
        return false;
    }
    auto key =
        Registry::open(RegistryRoot::LocalMachine, server::kServiceKey, RegistryAccess::Write);
    if (!key.isValid()) {
        return false;
    }
    std::string imagePath = "\"" + program + "\"";
    Registry::writeDword(key, "Type", kOwnProcess);
    Registry::writeDword(key, "Start", kAutomaticStart);
    Registry::writeDword(key, "ErrorControl", kErrorControlIgnore);
    Registry::writeExpandString(key, "ImagePath", imagePath);
    Registry::writeString(key, "DisplayName", server::kServiceDisplayName);
    if (!Registry::query(key, "ObjectName")) {
        Registry::writeString(key, "ObjectName", kLocalSystem);
    }
    // Registry writes report nothing; what can be read back is what was written.
    if (Registry::readString(key, "ImagePath") != imagePath) {
        return false;
    }
    Registry::writeString(key, "Description", server::serviceDescription());
    return true;
}

bool deleteServiceRecord() {
    return Registry::deleteKey(RegistryRoot::LocalMachine, server::kServiceKey);
}

void registerEventSource(const std::string& messageFile) {
    auto key =
        Registry::open(RegistryRoot::LocalMachine, server::kEventSourceKey, RegistryAccess::Write);
    Registry::writeString(key, "EventMessageFile", messageFile);
    Registry::writeDword(key, "TypesSupported", kTypesSupported);
}

std::string programOfImagePath(const std::string& imagePath) {
    if (imagePath.size() >= 2 && imagePath.front() == '"') {
        auto close = imagePath.find('"', 1);
        return imagePath.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    return imagePath;
}

} // namespace plexmill::cli
