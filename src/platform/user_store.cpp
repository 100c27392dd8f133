// The store file, one line each:
//
//   # comment
//   [Software\Tessaron\Kelto]              a key (path as given, "\" between parts)
//   @ = sz "text"                          the key's unnamed value
//   "Zero" = dword 1                       a 4-byte REG_DWORD, in decimal
//   "Name" = expand_sz "text"              a string value ending in one NUL (not shown)
//   "HashValue" = binary hex:00ff...       any type, raw bytes in hex
//   "Odd" = type9 hex:...                  a type number of no known name
//
// Names, key paths and strings escape "%", quotes, brackets, control bytes
// and bytes that are not valid UTF-8 as %HH, so any byte string round-trips
// and the rest stays readable. Lines that do not parse are skipped (and
// dropped by the next write); values before the first key are skipped too.
#include "platform/user_store.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <utility>

#include "platform/fault.h"

namespace kelto {
namespace {

struct Key {
    std::string path;  // normalised
    std::vector<std::pair<std::string, StoreValue>> values;
};

struct Model {
    std::vector<Key> keys;

    Key* Find(const std::string& path) {
        for (Key& k : keys)
            if (k.path == path) return &k;
        return nullptr;
    }
    Key& Get(const std::string& path) {
        if (Key* k = Find(path)) return *k;
        keys.push_back({path, {}});
        return keys.back();
    }
};

// Drops empty parts, so "A\\B", "\\A\\B\\" and "A\\\\B" name one key.
std::string NormaliseKeyPath(const std::string& path) {
    std::string out, part;
    auto flush = [&] {
        if (part.empty()) return;
        if (!out.empty()) out += '\\';
        out += part;
        part.clear();
    };
    for (char c : path) {
        if (c == '\\') flush();
        else part += c;
    }
    flush();
    return out;
}

bool IsBelowOrSame(const std::string& path, const std::string& root) {
    if (path.size() < root.size() || path.compare(0, root.size(), root) != 0) return false;
    return path.size() == root.size() || path[root.size()] == '\\';
}

// ---- escaping ----

// Length of the valid UTF-8 sequence at s[i], or 0.
size_t Utf8Length(const std::string& s, size_t i) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = b(i);
    size_t n;
    unsigned cp;
    if (c >= 0xC2 && c <= 0xDF) { n = 2; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { n = 3; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { n = 4; cp = c & 0x07; }
    else return 0;
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

const char kHex[] = "0123456789abcdef";

std::string Escape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80) {
            if (size_t n = Utf8Length(s, i)) {
                out.append(s, i, n);
                i += n;
                continue;
            }
        } else if (c >= 0x20 && c != 0x7F && c != '%' && c != '"' && c != '[' && c != ']') {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 15];
        ++i;
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Unescape(const std::string& s, std::string& out) {
    out.clear();
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        int hi = i + 1 < s.size() ? HexDigit(s[i + 1]) : -1;
        int lo = i + 2 < s.size() ? HexDigit(s[i + 2]) : -1;
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

// ---- lines ----

std::string TypeName(int type) {
    switch (type) {
        case REG_SZ: return "sz";
        case REG_EXPAND_SZ: return "expand_sz";
        case REG_BINARY: return "binary";
        case REG_DWORD: return "dword";
        default: return "type" + std::to_string(type);
    }
}

bool ParseTypeName(const std::string& s, int& type) {
    if (s == "sz") type = REG_SZ;
    else if (s == "expand_sz") type = REG_EXPAND_SZ;
    else if (s == "binary") type = REG_BINARY;
    else if (s == "dword") type = REG_DWORD;
    else if (s.size() > 4 && s.compare(0, 4, "type") == 0) {
        char* end = nullptr;
        errno = 0;
        long v = std::strtol(s.c_str() + 4, &end, 10);
        if (errno != 0 || *end != '\0' || v < -2147483647L - 1 || v > 2147483647L) return false;
        type = static_cast<int>(v);
    } else {
        return false;
    }
    return true;
}

std::string FormatValue(const std::string& name, const StoreValue& v) {
    std::string line = name.empty() ? "@" : "\"" + Escape(name) + "\"";
    line += " = " + TypeName(v.type) + " ";
    const std::string& d = v.data;
    if ((v.type == REG_SZ || v.type == REG_EXPAND_SZ) && !d.empty() && d.back() == '\0') {
        line += "\"" + Escape(d.substr(0, d.size() - 1)) + "\"";
    } else if (v.type == REG_DWORD && d.size() == 4) {
        uint32_t n = 0;
        for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(d[i]);
        line += std::to_string(n);
    } else {
        line += "hex:";
        for (unsigned char c : d) {
            line += kHex[c >> 4];
            line += kHex[c & 15];
        }
    }
    return line;
}

std::string Format(const Model& m) {
    std::string out = "# Kelto per-user settings. Rewritten whole by the program on every change.\n";
    for (const Key& k : m.keys) {
        out += "\n[" + Escape(k.path) + "]\n";
        for (const auto& [name, v] : k.values) out += FormatValue(name, v) + "\n";
    }
    return out;
}

void SkipBlanks(const std::string& s, size_t& i) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
}

// A quoted, escaped string starting at s[i] == '"'.
bool ParseQuoted(const std::string& s, size_t& i, std::string& out) {
    if (i >= s.size() || s[i] != '"') return false;
    size_t end = s.find('"', i + 1);
    if (end == std::string::npos) return false;
    if (!Unescape(s.substr(i + 1, end - i - 1), out)) return false;
    i = end + 1;
    return true;
}

bool ParseValueLine(const std::string& s, std::string& name, StoreValue& v) {
    size_t i = 0;
    SkipBlanks(s, i);
    if (i < s.size() && s[i] == '@') {
        name.clear();
        ++i;
    } else if (!ParseQuoted(s, i, name)) {
        return false;
    }
    SkipBlanks(s, i);
    if (i >= s.size() || s[i] != '=') return false;
    ++i;
    SkipBlanks(s, i);
    size_t t = i;
    while (i < s.size() && s[i] != ' ' && s[i] != '\t') ++i;
    if (!ParseTypeName(s.substr(t, i - t), v.type)) return false;
    SkipBlanks(s, i);
    v.data.clear();
    if (i < s.size() && s[i] == '"') {
        if (v.type != REG_SZ && v.type != REG_EXPAND_SZ) return false;
        if (!ParseQuoted(s, i, v.data)) return false;
        v.data += '\0';
    } else if (s.compare(i, 4, "hex:") == 0) {
        i += 4;
        while (i < s.size() && HexDigit(s[i]) >= 0) {
            if (i + 1 >= s.size() || HexDigit(s[i + 1]) < 0) return false;
            v.data += static_cast<char>(HexDigit(s[i]) * 16 + HexDigit(s[i + 1]));
            i += 2;
        }
    } else if (v.type == REG_DWORD) {
        size_t d = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        if (i == d || i - d > 10) return false;
        unsigned long long n = std::strtoull(s.substr(d, i - d).c_str(), nullptr, 10);
        if (n > 0xFFFFFFFFull) return false;
        for (int k = 0; k < 4; ++k) v.data += static_cast<char>((n >> (8 * k)) & 0xFF);
    } else {
        return false;
    }
    SkipBlanks(s, i);
    return i == s.size();
}

Model Parse(const std::string& text) {
    Model m;
    Key* current = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        std::string line = text.substr(pos, nl - pos);
        pos = nl + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();  // edited elsewhere
        size_t i = 0;
        SkipBlanks(line, i);
        if (i == line.size() || line[i] == '#') continue;
        if (line[i] == '[') {
            size_t end = line.find(']', i + 1);
            std::string path;
            size_t after = end + 1;
            if (end == std::string::npos || (SkipBlanks(line, after), after != line.size()) ||
                !Unescape(line.substr(i + 1, end - i - 1), path)) {
                current = nullptr;  // values of a broken header are not given to another key
                continue;
            }
            current = &m.Get(NormaliseKeyPath(path));
            continue;
        }
        std::string name;
        StoreValue v;
        if (!current || !ParseValueLine(line, name, v)) continue;
        bool replaced = false;
        for (auto& [n, old] : current->values)
            if (n == name) { old = v; replaced = true; }
        if (!replaced) current->values.emplace_back(std::move(name), std::move(v));
    }
    return m;
}

// ---- the file ----

std::string ConfigHome() {
    std::string folder;
    if (fault::OverrideConfigHome(folder)) return folder;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;  // relative values are to be ignored
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.config";
    struct passwd pw, *res = nullptr;
    char buf[4096];
    if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &res) == 0 && res && res->pw_dir && res->pw_dir[0] == '/')
        return std::string(res->pw_dir) + "/.config";
    return {};
}

std::string FolderOf(const std::string& file) { return file.substr(0, file.rfind('/')); }

bool MakeFolders(const std::string& folder) {
    struct stat st;
    if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    size_t slash = folder.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash))) return false;
    return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

// Holds a flock on the lock file beside the store for its lifetime.
class FileLock {
public:
    FileLock(const std::string& storePath, int how) {
        m_fd = open((storePath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd < 0) return;
        while (flock(m_fd, how) != 0) {
            if (errno != EINTR) {
                close(m_fd);
                m_fd = -1;
                return;
            }
        }
    }
    ~FileLock() {
        if (m_fd >= 0) close(m_fd);  // closing releases the lock
    }
    bool Held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// false when the file exists but cannot be read; a missing file is empty.
bool ReadWhole(const std::string& path, std::string& out) {
    out.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    char buf[16384];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            close(fd);
            return false;
        }
    }
    close(fd);
    return true;
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool SyncFolder(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

bool ReadModel(Model& m) {
    std::string path = CUserStoreKey::StoreFilePath();
    if (path.empty()) return false;
    // Writers replace the file whole, so a read without the lock (no lock
    // file to be had) still sees one complete version.
    FileLock lock(path, LOCK_SH);
    std::string text;
    if (!ReadWhole(path, text)) return false;
    m = Parse(text);
    return true;
}

// One change, carried out under the exclusive lock on the file as it is now.
// `change` returns false when it left the model as it was.
bool Transact(const std::function<bool(Model&)>& change) {
    std::string path = CUserStoreKey::StoreFilePath();
    // Before the lock: a test's hook may use the store itself.
    if (path.empty() || fault::Check(fault::Op::StoreWrite, path) != 0) return false;
    std::string folder = FolderOf(path);
    if (!MakeFolders(folder)) return false;
    FileLock lock(path, LOCK_EX);
    if (!lock.Held()) return false;
    std::string text;
    if (!ReadWhole(path, text)) return false;  // never replace what could not be read
    Model m = Parse(text);
    if (!change(m)) return true;

    std::string tmp = path + ".tmp";  // only the lock holder uses it
    unlink(tmp.c_str());
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, Format(m)) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
        return false;
    }
    SyncFolder(folder);  // the rename is done; a failed folder sync cannot undo it
    return true;
}

}  // namespace

std::string CUserStoreKey::StoreFilePath() {
    std::string home = ConfigHome();
    if (home.empty()) return {};
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    if (home == "/") home.clear();
    return home + "/kelto/store";
}

bool CUserStoreKey::Create(const std::string& keyPath) {
    Close();
    std::string path = StoreFilePath();
    if (path.empty() || fault::Check(fault::Op::StoreOpen, path) != 0) return false;
    std::string norm = NormaliseKeyPath(keyPath);
    if (norm.empty()) return false;
    Model current;
    bool ok = (ReadModel(current) && current.Find(norm)) || Transact([&](Model& m) {
        if (m.Find(norm)) return false;
        m.Get(norm);
        return true;
    });
    if (!ok) return false;
    m_keyPath = norm;
    m_open = true;
    return true;
}

void CUserStoreKey::Close() {
    m_open = false;
    m_keyPath.clear();
}

bool CUserStoreKey::QueryValue(const std::string& name, StoreValue& value) const {
    if (!m_open) return false;
    Model m;
    if (!ReadModel(m)) return false;
    Key* k = m.Find(m_keyPath);
    if (!k) return false;
    for (auto& [n, v] : k->values) {
        if (n == name) {
            value = v;
            return true;
        }
    }
    return false;
}

bool CUserStoreKey::SetValue(const std::string& name, const StoreValue& value) {
    if (!m_open) return false;
    return Transact([&](Model& m) {
        Key& k = m.Get(m_keyPath);
        for (auto& [n, v] : k.values) {
            if (n == name) {
                if (v.type == value.type && v.data == value.data) return false;
                v = value;
                return true;
            }
        }
        k.values.emplace_back(name, value);
        return true;
    });
}

bool CUserStoreKey::DeleteValue(const std::string& name) {
    if (!m_open) return false;
    bool found = false;
    bool ok = Transact([&](Model& m) {
        Key* k = m.Find(m_keyPath);
        if (!k) return false;
        for (auto it = k->values.begin(); it != k->values.end(); ++it) {
            if (it->first == name) {
                k->values.erase(it);
                found = true;
                return true;
            }
        }
        return false;
    });
    return ok && found;
}

bool CUserStoreKey::DeleteKey(const std::string& keyPath) {
    std::string norm = NormaliseKeyPath(keyPath);
    if (norm.empty()) return false;  // never the whole store
    return Transact([&](Model& m) {
        size_t before = m.keys.size();
        std::erase_if(m.keys, [&](const Key& k) { return IsBelowOrSame(k.path, norm); });
        return m.keys.size() != before;
    });
}

}  // namespace kelto
