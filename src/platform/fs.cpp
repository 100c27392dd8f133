#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string_view>

#include "platform/fault.h"

namespace kelto {
namespace {

std::string LastComponent(const std::string& path) {
    size_t end = path.size();
    while (end > 0 && path[end - 1] == '/') --end;
    const size_t slash = path.rfind('/', end == 0 ? 0 : end - 1);
    const size_t start = (slash == std::string::npos || end == 0) ? 0 : slash + 1;
    return path.substr(start, end - start);
}

std::string StripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

EntryKind KindOf(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::File;
    if (S_ISDIR(mode)) return EntryKind::Folder;
    if (S_ISLNK(mode)) return EntryKind::Link;
    return EntryKind::Other;
}

FindEntry MakeEntry(std::string name, std::string path, const struct stat& st) {
    FindEntry e;
    e.kind = KindOf(st.st_mode);
    e.size = e.kind == EntryKind::Folder ? 0 : static_cast<uint64_t>(st.st_size);
    e.attributes = AttributesFromMode(path, st.st_mode);
    e.name = std::move(name);
    e.path = std::move(path);
    return e;
}

// Length of the UTF-8 sequence at s[i]; a stray byte counts as one character.
size_t CharLength(std::string_view s, size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
    if (i + n > s.size()) return 1;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
    return n;
}

bool Match(std::string_view pat, std::string_view name) {
    size_t p = 0, n = 0;
    size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pat.size() && pat[p] == '*') {
            starP = ++p;
            starN = n;
            continue;
        }
        if (p < pat.size()) {
            const size_t nl = CharLength(name, n);
            if (pat[p] == '?') {
                p += 1;
                n += nl;
                continue;
            }
            const size_t pl = CharLength(pat, p);
            if (pl == nl && pat.substr(p, pl) == name.substr(n, nl)) {
                p += pl;
                n += nl;
                continue;
            }
        }
        if (starP == std::string_view::npos) return false;
        // Let the last "*" swallow one more character and try again.
        starN += CharLength(name, starN);
        n = starN;
        p = starP;
    }
    while (p < pat.size() && pat[p] == '*') ++p;
    return p == pat.size();
}

bool HasWildcards(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

// Lists entries of `pattern`; stops after the first when `firstOnly`.
// `literal`: the last component is a name, even when it holds "*" or "?"
// (both are ordinary characters in names here).
void Search(const std::string& pattern, bool firstOnly, std::vector<FindEntry>& out, bool literal = false) {
    if (pattern.empty() || pattern.back() == '/') return;
    if (fault::Check(fault::Op::ListDir, pattern)) return;

    const size_t slash = pattern.rfind('/');
    const std::string prefix = slash == std::string::npos ? "" : pattern.substr(0, slash + 1);
    const std::string last = pattern.substr(prefix.size());

    if (literal || !HasWildcards(last)) {
        struct stat st {};
        if (::lstat(pattern.c_str(), &st) == 0) out.push_back(MakeEntry(last, pattern, st));
        return;
    }

    DIR* dir = ::opendir(prefix.empty() ? "." : prefix.c_str());
    if (!dir) return;
    const int dfd = ::dirfd(dir);
    while (struct dirent* d = ::readdir(dir)) {
        if (!MatchPattern(last, d->d_name)) continue;
        struct stat st {};
        // An entry that vanished since the listing is not reported.
        if (::fstatat(dfd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        out.push_back(MakeEntry(d->d_name, prefix + d->d_name, st));
        if (firstOnly) break;
    }
    ::closedir(dir);
}

// Takes the lock a shareExclusive open would conflict with, so that a move
// cannot pull a file away from a copy of the program that holds it. Returns -2 when the file is held, -1 when the test does not apply,
// else a descriptor that keeps the lock until closed.
int LockUnlessHeld(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return held ? -2 : -1;
    }
    return fd;
}

struct FdGuard {
    int fd = -1;
    ~FdGuard() {
        if (fd >= 0) ::close(fd);
    }
};

bool WriteAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Exclusive copy of a regular file with its times, owner and permission
// bits, flushed; the source is deleted only once the copy is safe.
bool CopyThenDelete(const std::string& from, const std::string& to, const struct stat& st) {
    FdGuard in{::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)};
    if (in.fd < 0) return false;
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) return false;

    bool ok = true;
    std::vector<char> buffer(1 << 18);
    for (;;) {
        const ssize_t r = ::read(in.fd, buffer.data(), buffer.size());
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) { ok = false; break; }
        if (r == 0) break;
        if (!WriteAll(out, buffer.data(), static_cast<size_t>(r))) { ok = false; break; }
    }
    if (ok) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        // A user's file moved by root stays the user's; failure is harmless.
        if (::fchown(out, st.st_uid, st.st_gid) != 0) {}
        ok = ::futimens(out, times) == 0 && ::fchmod(out, st.st_mode & 07777) == 0 && ::fsync(out) == 0;
    }
    if (::close(out) != 0 && errno != EINTR) ok = false;
    if (ok) FlushFolderOf(to);
    if (ok && ::unlink(from.c_str()) == 0) return true;
    ::unlink(to.c_str());
    return false;
}

std::string HomePath() {
    if (const char* h = std::getenv("HOME"); h && h[0] == '/') return StripTrailingSlashes(h);
    struct passwd pw {};
    struct passwd* res = nullptr;
    std::vector<char> buf(16384);
    if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &res) == 0 && res && res->pw_dir &&
        res->pw_dir[0] == '/')
        return StripTrailingSlashes(res->pw_dir);
    return {};
}

std::string AbsoluteEnv(const char* name) {
    const char* v = std::getenv(name);
    if (!v || v[0] != '/') return {};
    return StripTrailingSlashes(v);
}

bool IsDir(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The lines of a text file, without their "\n".
std::vector<std::string_view> SplitLines(const std::string& text) {
    std::vector<std::string_view> lines;
    for (size_t pos = 0; pos < text.size();) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        lines.emplace_back(text.data() + pos, eol - pos);
        pos = eol + 1;
    }
    return lines;
}

// The value of `key` in a user-dirs.dirs text, "$HOME" expanded; the last
// assignment wins, as when the shell reads it.
std::string UserDirFrom(const std::string& text, const std::string& key, const std::string& home) {
    std::string result;
    for (std::string_view line : SplitLines(text)) {
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        if (line.substr(0, key.size()) != key) continue;
        line.remove_prefix(key.size());
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        if (line.empty() || line.front() != '=') continue;
        line.remove_prefix(1);
        std::string value;
        if (!line.empty() && line.front() == '"') {
            bool closed = false;
            for (size_t i = 1; i < line.size(); ++i) {
                if (line[i] == '\\' && i + 1 < line.size()) {
                    value += line[++i];
                } else if (line[i] == '"') {
                    closed = true;
                    break;
                } else {
                    value += line[i];
                }
            }
            if (!closed) continue;
        } else {
            const size_t end = line.find_first_of(" \t#");
            value = std::string(line.substr(0, end));
        }
        if (value.compare(0, 5, "$HOME") == 0 && (value.size() == 5 || value[5] == '/')) {
            if (home.empty()) continue;
            value = home + value.substr(5);
        } else if (value.empty() || value[0] != '/') {
            continue;  // relative paths are not allowed there
        }
        result = StripTrailingSlashes(value);
    }
    return result;
}

// mkdir -p with 0700 for every folder it makes.
bool MakeFolders(const std::string& path) {
    if (IsDir(path)) return true;
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i != path.size() && path[i] != '/') continue;
        const std::string part = path.substr(0, i);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return IsDir(path);
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return {};
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
}

// "\040" and friends: mountinfo escapes space, tab, newline and backslash.
std::string Unescape(std::string_view s) {
    const auto oct = [](char c) { return c >= '0' && c <= '7'; };
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && oct(s[i + 1]) &&
            oct(s[i + 2]) && oct(s[i + 3])) {
            out += static_cast<char>(((s[i + 1] - '0') << 6) | ((s[i + 2] - '0') << 3) | (s[i + 3] - '0'));
            i += 3;
            continue;
        }
        out += s[i];
    }
    return out;
}

bool IsUnder(const std::string& path, const std::string& mountPoint) {
    if (mountPoint == "/") return !path.empty() && path[0] == '/';
    return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

int ClassifyMount(const MountEntry& m, RemovableProbe probe) {
    static const char* const ram[] = {"tmpfs", "ramfs"};
    static const char* const optical[] = {"iso9660", "udf"};
    static const char* const remote[] = {
        "nfs", "nfs4", "cifs", "smb3", "smbfs", "sshfs", "fuse.sshfs", "9p", "ceph", "fuse.ceph",
        "fuse.ceph-fuse", "glusterfs", "fuse.glusterfs", "afs", "ncpfs", "coda", "lustre", "beegfs",
        "gpfs", "orangefs", "pvfs2", "davfs", "fuse.davfs2", "fuse.s3fs", "fuse.rclone", "fuse.gcsfuse"};
    for (const char* t : ram)
        if (m.fsType == t) return DRIVE_RAMDISK;
    for (const char* t : optical)
        if (m.fsType == t) return DRIVE_CDROM;
    for (const char* t : remote)
        if (m.fsType == t) return DRIVE_REMOTE;
    if (probe && probe(m.major, m.minor, m.source)) return DRIVE_REMOVABLE;
    return DRIVE_FIXED;
}

bool BlockDeviceRemovable(unsigned major, unsigned minor, int depth) {
    if (depth > 4) return false;
    const std::string link = "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    char* real = ::realpath(link.c_str(), nullptr);
    if (!real) return false;
    const std::string dev = real;
    std::free(real);
    for (size_t p = dev.find("/usb"); p != std::string::npos; p = dev.find("/usb", p + 1))
        if (p + 4 < dev.size() && dev[p + 4] >= '0' && dev[p + 4] <= '9') return true;
    std::string removable = Trimmed(ReadWholeFile(dev + "/removable"));
    if (removable.empty()) removable = Trimmed(ReadWholeFile(dev + "/../removable"));  // a partition
    if (removable == "1") return true;
    // Mapped devices (encrypted, LVM) are removable when what they sit on is.
    if (DIR* d = ::opendir((dev + "/slaves").c_str())) {
        bool any = false;
        while (struct dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            unsigned ma = 0, mi = 0;
            const std::string numbers = ReadWholeFile(dev + "/slaves/" + e->d_name + "/dev");
            if (std::sscanf(numbers.c_str(), "%u:%u", &ma, &mi) == 2 && BlockDeviceRemovable(ma, mi, depth + 1)) {
                any = true;
                break;
            }
        }
        ::closedir(d);
        if (any) return true;
    }
    return false;
}

// The nearest existing ancestor of `path` (itself included), resolved.
std::string ResolveNearest(const std::string& path) {
    std::string p = path;
    if (p.empty()) return {};
    if (p[0] != '/') {
        char cwd[PATH_MAX];
        if (!::getcwd(cwd, sizeof cwd)) return {};
        p = std::string(cwd) + "/" + p;
    }
    for (;;) {
        if (char* real = ::realpath(p.c_str(), nullptr)) {
            std::string r = real;
            std::free(real);
            return r;
        }
        if (p == "/") return {};
        p = StripTrailingSlashes(p);
        const size_t slash = p.rfind('/');
        p = slash == 0 || slash == std::string::npos ? "/" : p.substr(0, slash);
    }
}

thread_local uint32_t t_randomState = 1;

}  // namespace

uint32_t AttributesFromMode(const std::string& path, uint32_t mode) {
    uint32_t a = S_ISDIR(mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if ((mode & S_IWUSR) == 0) a |= FILE_ATTRIBUTE_READONLY;
    const std::string name = LastComponent(path);
    if (!name.empty() && name[0] == '.') a |= FILE_ATTRIBUTE_HIDDEN;
    return a;
}

bool MatchPattern(const std::string& pattern, const std::string& name) {
    if (Match(pattern, name)) return true;
    // The original search saw a name without a dot as ending in one.
    return name.find('.') == std::string::npos && Match(pattern, name + ".");
}

std::vector<FindEntry> FindEntries(const std::string& pattern) {
    std::vector<FindEntry> out;
    Search(pattern, false, out);
    return out;
}

bool LookupEntry(const std::string& path, FindEntry& entry) {
    std::vector<FindEntry> out;
    Search(path, true, out, true);
    if (out.empty()) return false;
    entry = std::move(out.front());
    return true;
}

std::vector<FindEntry> ListFolder(const std::string& folder) {
    std::vector<FindEntry> out;
    Search(folder == "/" ? "/*" : folder + "/*", false, out);
    return out;
}

bool FindFirstEntry(const std::string& pattern, FindEntry& entry) {
    std::vector<FindEntry> out;
    Search(pattern, true, out);
    if (out.empty()) return false;
    entry = std::move(out.front());
    return true;
}

int64_t GetFileAttributesOf(const std::string& path) {
    if (fault::Check(fault::Op::GetAttributes, path)) return -1;
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) return -1;
    return AttributesFromMode(path, st.st_mode);
}

bool SetFileAttributesOf(const std::string& path, uint32_t attributes) {
    if (fault::Check(fault::Op::SetAttributes, path)) return false;
    struct stat st {};
    // chmod would reach through a link; links are never worked on.
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        mode &= ~static_cast<mode_t>(0222);
    else
        mode |= S_IWUSR;
    if (mode == (st.st_mode & 07777)) return true;
    return ::chmod(path.c_str(), mode) == 0;
}

bool MoveFileNoReplace(const std::string& from, const std::string& to) {
    if (fault::Check(fault::Op::Move, from)) return false;
    struct stat st {};
    if (from.empty() || to.empty() || ::lstat(from.c_str(), &st) != 0) return false;
    FdGuard lock;
    if (S_ISREG(st.st_mode)) {
        lock.fd = LockUnlessHeld(from);
        if (lock.fd == -2) return false;
    }
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    const int err = errno;
    if (err == EXDEV) return S_ISREG(st.st_mode) && CopyThenDelete(from, to, st);
    if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP) return false;
    // The file system cannot rename without replacing: a link never does.
    if (::link(from.c_str(), to.c_str()) == 0) {
        if (::unlink(from.c_str()) == 0) return true;
        ::unlink(to.c_str());
        return false;
    }
    if (errno == EEXIST) return false;
    return S_ISREG(st.st_mode) && CopyThenDelete(from, to, st);
}

bool DeleteFilePath(const std::string& path) {
    if (fault::Check(fault::Op::Delete, path)) return false;
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return ::unlink(path.c_str()) == 0;
}

bool FlushFolderOf(const std::string& path) {
    std::string folder;
    if (IsDir(path)) {
        folder = path;
    } else {
        const std::string p = StripTrailingSlashes(path);
        const size_t slash = p.rfind('/');
        folder = slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
    }
    FdGuard fd{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (fd.fd < 0) return false;
    int rc;
    do {
        rc = ::fsync(fd.fd);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

std::string GetTempFolderPath() {
    std::string folder;
    if (fault::OverrideTempFolder(folder)) return folder;
    const std::string env = AbsoluteEnv("TMPDIR");
    if (!env.empty() && IsDir(env)) return env;
    return IsDir("/var/tmp") ? "/var/tmp" : "";
}

std::string GetDesktopFolderPath() {
    std::string folder;
    if (fault::OverrideDesktopFolder(folder)) return folder;
    const std::string home = HomePath();
    std::string config = AbsoluteEnv("XDG_CONFIG_HOME");
    if (config.empty() && !home.empty()) config = home + "/.config";
    if (!config.empty())
        folder = UserDirFrom(ReadWholeFile(config + "/user-dirs.dirs"), "XDG_DESKTOP_DIR", home);
    if (folder.empty() && !home.empty()) folder = home + "/Desktop";
    if (folder.empty() || !MakeFolders(folder)) return {};
    return folder;
}

std::string GetConfigHomePath() {
    std::string folder;
    if (fault::OverrideConfigHome(folder)) return folder;
    folder = AbsoluteEnv("XDG_CONFIG_HOME");
    if (!folder.empty()) return folder;
    const std::string home = HomePath();
    return home.empty() ? "" : home + "/.config";
}

std::string GetDataHomePath() {
    std::string folder = AbsoluteEnv("XDG_DATA_HOME");
    if (!folder.empty()) return folder;
    const std::string home = HomePath();
    return home.empty() ? "" : home + "/.local/share";
}

std::string GetModuleFilePath() {
    std::vector<char> buf(PATH_MAX);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return {};
        if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
        buf.resize(buf.size() * 2);
    }
}

std::vector<MountEntry> ParseMountInfo(const std::string& text) {
    std::vector<MountEntry> mounts;
    for (std::string_view line : SplitLines(text)) {

        std::vector<std::string_view> fields;
        for (size_t i = 0; i < line.size();) {
            const size_t sp = line.find(' ', i);
            const size_t end = sp == std::string_view::npos ? line.size() : sp;
            if (end > i) fields.push_back(line.substr(i, end - i));
            i = end + 1;
        }
        // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
        size_t dash = 6;
        while (dash < fields.size() && fields[dash] != "-") ++dash;
        if (dash + 1 >= fields.size()) continue;  // no file-system type
        MountEntry m;
        if (std::sscanf(std::string(fields[2]).c_str(), "%u:%u", &m.major, &m.minor) != 2) continue;
        m.mountPoint = Unescape(fields[4]);
        m.fsType = std::string(fields[dash + 1]);
        if (dash + 2 < fields.size()) m.source = Unescape(fields[dash + 2]);
        mounts.push_back(std::move(m));
    }
    return mounts;
}

bool ProbeRemovableSysfs(unsigned major, unsigned minor, const std::string& source) {
    if (major == 0) {
        // Btrfs, FUSE block file systems and others report an anonymous
        // device; the device they were mounted from tells.
        struct stat st {};
        if (source.compare(0, 5, "/dev/") != 0 || ::stat(source.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
            return false;
        major = ::major(st.st_rdev);
        minor = ::minor(st.st_rdev);
    }
    return BlockDeviceRemovable(major, minor, 0);
}

int DriveTypeFromMountInfo(const std::string& text, const std::string& path, RemovableProbe probe) {
    const std::vector<MountEntry> mounts = ParseMountInfo(text);
    const MountEntry* best = nullptr;
    for (const MountEntry& m : mounts)
        if (IsUnder(path, m.mountPoint) && (!best || m.mountPoint.size() >= best->mountPoint.size())) best = &m;
    return best ? ClassifyMount(*best, probe) : DRIVE_UNKNOWN;
}

int GetDriveTypeOf(const std::string& path) {
    int type = DRIVE_UNKNOWN;
    if (fault::OverrideDriveType(path, type)) return type;
    const std::string resolved = ResolveNearest(path);
    if (resolved.empty()) return DRIVE_UNKNOWN;
    const std::string text = ReadWholeFile("/proc/self/mountinfo");
    if (text.empty()) return DRIVE_UNKNOWN;
    return DriveTypeFromMountInfo(text, resolved);
}

uint32_t CurrentTimeSeconds() { return static_cast<uint32_t>(std::time(nullptr)); }

void SeedRandom(uint32_t seed) { t_randomState = seed; }

int DrawRandom() {
    t_randomState = t_randomState * 214013u + 2531011u;
    return static_cast<int>((t_randomState >> 16) & 32767u);
}

}  // namespace kelto
