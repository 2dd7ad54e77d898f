#include "util/registry.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>

#include "util/console.hpp"
#include "util/format.hpp"
#include "util/registry_text.hpp"

namespace tnw::util {

namespace {

const char* rootName(RegistryRoot root) {
    return root == RegistryRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

std::string sectionName(RegistryRoot root, const std::string& path) {
    return std::string(rootName(root)) + "\\" + path;
}

std::string readWholeFile(int fd) {
    std::string text;
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

// Missing files hold no values; so do damaged ones, which are reported once per process.
ParsedRegistry loadFile(const std::string& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    ParsedRegistry parsed = parseRegistryText(readWholeFile(fd));
    ::close(fd);
    if (parsed.error) {
        static std::mutex mutex;
        static std::set<std::string> reported;
        std::lock_guard lock(mutex);
        if (reported.insert(file).second) {
            printError(format("Registry file '%1' is damaged at line %2 (%3); its values are ignored.",
                              file, parsed.error->line, parsed.error->reason));
        }
    }
    return parsed;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

// Re-reads the file under its lock, applies the change and replaces the file atomically.
// A damaged file is kept beside the new one (".damaged") so that nothing it held is lost;
// the new file carries every value that could still be read.
template <class Change>
bool transact(const std::string& file, Change change) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ignored);
    int lock = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0) {
        return false;
    }
    while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
    }
    ParsedRegistry parsed = loadFile(file);
    if (parsed.error) {
        std::filesystem::copy_file(file, file + ".damaged",
                                   std::filesystem::copy_options::overwrite_existing, ignored);
    }
    change(parsed.document);
    std::string temporary = file + ".tmp." + std::to_string(::getpid());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool written = fd >= 0 && writeAll(fd, renderRegistryText(parsed.document)) && ::fsync(fd) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    written = written && ::rename(temporary.c_str(), file.c_str()) == 0;
    if (!written) {
        ::unlink(temporary.c_str());
    }
    ::close(lock);
    return written;
}

} // namespace

std::string Registry::filePath(RegistryRoot root) {
    if (root == RegistryRoot::LocalMachine) {
        const char* moved = std::getenv("PLEXMILL_MACHINE_REGISTRY");
        return moved != nullptr && *moved != '\0' ? moved : "/etc/plexmill/machine.reg";
    }
    if (root == RegistryRoot::CurrentUser) {
        const char* moved = std::getenv("PLEXMILL_USER_REGISTRY");
        if (moved != nullptr && *moved != '\0') {
            return moved;
        }
        const char* config = std::getenv("XDG_CONFIG_HOME");
        if (config != nullptr && *config != '\0') {
            return std::string(config) + "/plexmill/user.reg";
        }
        // Without a home there is no user to keep values for; "/.config" is nobody's.
        const char* home = std::getenv("HOME");
        return home != nullptr && *home != '\0' ? std::string(home) + "/.config/plexmill/user.reg"
                                                : std::string();
    }
    return {}; // the classes root has no counterpart here
}

RegistryKey Registry::open(RegistryRoot root, const std::string& path, RegistryAccess access) {
    RegistryKey key;
    std::string file = filePath(root);
    if (file.empty()) {
        return key;
    }
    if (access != RegistryAccess::Read) {
        std::string section = sectionName(root, path);
        bool exists = loadFile(file).document.find(section) != nullptr;
        if (!exists && !transact(file, [&](RegistryDocument& document) { document.findOrAdd(section); })) {
            return key;
        }
    }
    key.root_ = root;
    key.file_ = std::move(file);
    key.path_ = path;
    key.access_ = access;
    return key;
}

std::optional<RegistryValue> Registry::query(const RegistryKey& key, const std::string& name) {
    if (!key.isValid()) {
        return std::nullopt;
    }
    ParsedRegistry parsed = loadFile(key.file_);
    if (parsed.error) {
        return std::nullopt;
    }
    const RegistrySection* section = parsed.document.find(sectionName(key.root_, key.path_));
    const RegistryValue* value = section ? RegistryDocument::findValue(*section, name) : nullptr;
    return value ? std::optional<RegistryValue>(*value) : std::nullopt;
}

std::string Registry::readString(const RegistryKey& key, const std::string& name) {
    auto value = query(key, name);
    if (value && (value->type == static_cast<std::uint32_t>(RegistryType::String) ||
                  value->type == static_cast<std::uint32_t>(RegistryType::ExpandString))) {
        return value->text;
    }
    return {};
}

std::vector<std::uint8_t> Registry::readBinary(const RegistryKey& key, const std::string& name) {
    auto value = query(key, name);
    if (value && value->type == static_cast<std::uint32_t>(RegistryType::Binary)) {
        return value->raw;
    }
    return {};
}

namespace {

void writeValue(const RegistryKey& key, RegistryRoot root, const std::string& file,
                const std::string& path, const std::string& name, RegistryValue value) {
    if (!key.isValid()) {
        return;
    }
    transact(file, [&](RegistryDocument& document) {
        RegistryDocument::setValue(document.findOrAdd(sectionName(root, path)), name, std::move(value));
    });
}

} // namespace

void Registry::writeDword(const RegistryKey& key, const std::string& name, std::uint32_t number) {
    if (key.access_ == RegistryAccess::Read) {
        return;
    }
    RegistryValue value;
    value.type = static_cast<std::uint32_t>(RegistryType::Dword);
    value.raw = {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                 static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
    writeValue(key, key.root_, key.file_, key.path_, name, std::move(value));
}

void Registry::writeString(const RegistryKey& key, const std::string& name, const std::string& text) {
    writeText(key, name, text, RegistryType::String);
}

void Registry::writeExpandString(const RegistryKey& key,
                                 const std::string& name,
                                 const std::string& text) {
    writeText(key, name, text, RegistryType::ExpandString);
}

void Registry::writeText(const RegistryKey& key,
                         const std::string& name,
                         const std::string& text,
                         RegistryType type) {
    if (key.access_ == RegistryAccess::Read) {
        return;
    }
    RegistryValue value;
    value.type = static_cast<std::uint32_t>(type);
    value.text = text;
    writeValue(key, key.root_, key.file_, key.path_, name, std::move(value));
}

bool Registry::deleteKey(RegistryRoot root, const std::string& path) {
    std::string file = filePath(root);
    if (file.empty() || loadFile(file).document.find(sectionName(root, path)) == nullptr) {
        return false;
    }
    std::size_t removed = 0;
    bool written = transact(file, [&](RegistryDocument& document) {
        removed = document.removeTree(sectionName(root, path));
    });
    return written && removed != 0;
}

} // namespace tnw::util
