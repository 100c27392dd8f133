// The per-user store in place of the registry: keys below HKEY_CURRENT_USER
// with named, typed values, kept in one text file below $XDG_CONFIG_HOME.
#pragma once

#include <string>
#include <vector>

namespace kelto {

inline constexpr int REG_SZ = 1;
inline constexpr int REG_EXPAND_SZ = 2;
inline constexpr int REG_BINARY = 3;
inline constexpr int REG_DWORD = 4;

struct StoreValue {
    int type = REG_SZ;
    std::string data;  // raw bytes (a REG_SZ includes its terminating NUL)
};

// One open key. Every write reaches the file at once, atomically and under
// a lock, merged with what other copies of the program wrote meanwhile.
class CUserStoreKey {
public:
    CUserStoreKey() = default;
    ~CUserStoreKey() { Close(); }

    // Create-or-open `keyPath` ("Software\\Tessaron\\Kelto"). false when the
    // store cannot be opened or created.
    bool Create(const std::string& keyPath);
    void Close();
    bool IsOpen() const { return m_open; }

    // name "" is the unnamed default value.
    bool QueryValue(const std::string& name, StoreValue& value) const;
    bool SetValue(const std::string& name, const StoreValue& value);
    bool DeleteValue(const std::string& name);

    // Deletes `keyPath` with all its subkeys and values.
    static bool DeleteKey(const std::string& keyPath);

    // The file that holds the store.
    static std::string StoreFilePath();

private:
    std::string m_keyPath;
    bool m_open = false;
};

}  // namespace kelto
