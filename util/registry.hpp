// Settings storage in the Windows registry export format, one text file per root:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\Software\Quorvex\Quorvex Plexmill]
//   "port"=dword:00001cdb
//   "lookup"="/etc/plexmill/names.txt"
//
// so that value types survive (a number stored as text stays text and is ignored where a number
// is expected). HKEY_LOCAL_MACHINE lives in /etc/plexmill/machine.reg and HKEY_CURRENT_USER in
// $XDG_CONFIG_HOME/plexmill/user.reg; PLEXMILL_MACHINE_REGISTRY and PLEXMILL_USER_REGISTRY move
// them. Key paths and value names compare without regard to ASCII case, as on Windows. A process
// without a home folder (a service) has no HKEY_CURRENT_USER.
//
// Every write re-reads the file under an advisory lock and replaces it atomically, so two
// writers never lose each other's values and a crash mid-write leaves the old file whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tnw::util {

enum class RegistryRoot { LocalMachine = 0, CurrentUser = 1, ClassesRoot = 2 };
enum class RegistryAccess { Read = 0, Write = 1, All = 2 };

// Value types with their Windows numbers.
enum class RegistryType : std::uint32_t {
    String = 1,       // REG_SZ
    ExpandString = 2, // REG_EXPAND_SZ
    Binary = 3,       // REG_BINARY
    Dword = 4,        // REG_DWORD
};

struct RegistryValue {
    std::uint32_t type = 0;        // a RegistryType, or any other number kept as raw bytes
    std::string text;              // String and ExpandString
    std::vector<std::uint8_t> raw; // Binary, Dword (4 bytes, little endian) and other types
};

class RegistryKey {
public:
    RegistryKey() = default;
    bool isValid() const { return !file_.empty(); }
    const std::string& path() const { return path_; }

private:
    friend class Registry;
    RegistryRoot root_ = RegistryRoot::LocalMachine;
    std::string file_; // empty: the key could not be opened
    std::string path_; // without the root, backslash-separated
    RegistryAccess access_ = RegistryAccess::Read;
};

class Registry {
public:
    // Opens the key; with write access the key is created in the file when missing. A key
    // that cannot be opened is empty: reads give nothing and writes do nothing.
    static RegistryKey open(RegistryRoot root, const std::string& path, RegistryAccess access);
    static void close(RegistryKey& key) { key = RegistryKey(); }

    // The value as stored, or nothing when the key or the value is missing.
    static std::optional<RegistryValue> query(const RegistryKey& key, const std::string& name);
    // REG_SZ or REG_EXPAND_SZ values only (no expansion); empty otherwise.
    static std::string readString(const RegistryKey& key, const std::string& name);
    // REG_BINARY values only; empty otherwise.
    static std::vector<std::uint8_t> readBinary(const RegistryKey& key, const std::string& name);

    // Failures are ignored, as for every registry write of this system.
    static void writeDword(const RegistryKey& key, const std::string& name, std::uint32_t value);
    static void writeString(const RegistryKey& key, const std::string& name, const std::string& text);
    static void
    writeExpandString(const RegistryKey& key, const std::string& name, const std::string& text);

    // Removes the key with every key below it. True when the key existed and the file now holds
    // none of them; false when it did not exist or the file could not be written.
    static bool deleteKey(RegistryRoot root, const std::string& path);

    // The file that holds a root; empty when the root has none.
    static std::string filePath(RegistryRoot root);

private:
    static void writeText(const RegistryKey& key,
                          const std::string& name,
                          const std::string& text,
                          RegistryType type);
};

} // namespace tnw::util
