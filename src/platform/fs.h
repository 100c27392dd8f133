// Directory search, attributes, moves and deletes, the special folders and
// drive types: the file-system notions the design expects of its platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelto {

inline constexpr char kPathSeparator = '/';

// Synthesised attributes word.
inline constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
inline constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;

// Drive-type codes.
inline constexpr int DRIVE_UNKNOWN = 0;
inline constexpr int DRIVE_NO_ROOT_DIR = 1;
inline constexpr int DRIVE_REMOVABLE = 2;
inline constexpr int DRIVE_FIXED = 3;
inline constexpr int DRIVE_REMOTE = 4;
inline constexpr int DRIVE_CDROM = 5;
inline constexpr int DRIVE_RAMDISK = 6;

// The attributes word of the entry at `path` with the given st_mode: the
// name decides "hidden", the owner's write bit "read-only".
uint32_t AttributesFromMode(const std::string& path, uint32_t mode);

enum class EntryKind { File, Folder, Link, Other };

struct FindEntry {
    std::string name;   // last component
    std::string path;   // folder + "/" + name
    EntryKind kind = EntryKind::Other;
    uint64_t size = 0;      // 0 for folders, as the original search gave
    uint32_t attributes = 0;
};

// Directory search. `pattern` is a path whose last component may hold "*"
// and "?"; without them the entry of the path itself is found (lstat).
// Entries come in the file system's own order, "." and ".." included when
// the pattern matches them (as the original search did). Links are reported
// as links and never followed. A pattern ending in "/" finds nothing.
// An injected ListDir fault is looked up with the pattern itself.
std::vector<FindEntry> FindEntries(const std::string& pattern);
bool FindFirstEntry(const std::string& pattern, FindEntry& entry);
// The entry of `path` itself, "*" and "?" taken as ordinary characters.
bool LookupEntry(const std::string& path, FindEntry& entry);
// Every entry of `folder` ("." and ".." included, as a search lists them).
std::vector<FindEntry> ListFolder(const std::string& folder);

// true when `name` matches `pattern` ("*" any run, "?" one character, by
// UTF-8 sequence). As on the original platform, a name without a dot also
// matches as if it ended in one, so "*.*" matches every name.
bool MatchPattern(const std::string& pattern, const std::string& name);

// Attributes word, or -1 when it cannot be read.
int64_t GetFileAttributesOf(const std::string& path);
// Sets or clears the write permission bits from the read-only bit.
bool SetFileAttributesOf(const std::string& path, uint32_t attributes);

// Never replaces an existing file. Crosses file systems by an exclusive
// copy, flush and delete of the source. Like the original platform, a file
// that an open with shareExclusive holds cannot be moved (it can be
// deleted: unlink). Injected Move and Delete faults are looked up with
// `from` / `path`.
bool MoveFileNoReplace(const std::string& from, const std::string& to);
bool DeleteFilePath(const std::string& path);  // files and links, never folders
// fsync of the folder that holds `path` (or of `path` when it is a folder).
bool FlushFolderOf(const std::string& path);

// $TMPDIR, else /var/tmp, without a trailing "/"; empty when unusable.
std::string GetTempFolderPath();
// XDG DESKTOP user directory, else ~/Desktop; empty when unknown.
std::string GetDesktopFolderPath();
// $XDG_CONFIG_HOME, else ~/.config.
std::string GetConfigHomePath();
// $XDG_DATA_HOME, else ~/.local/share.
std::string GetDataHomePath();
// /proc/self/exe.
std::string GetModuleFilePath();

// Drive type of the mount that holds `path`.
int GetDriveTypeOf(const std::string& path);

// One line of /proc/self/mountinfo.
struct MountEntry {
    unsigned major = 0, minor = 0;
    std::string mountPoint;  // unescaped
    std::string fsType;
    std::string source;      // unescaped
};
std::vector<MountEntry> ParseMountInfo(const std::string& text);
// Answers whether a block device (by number, and its source text for
// file systems that report an anonymous device number) is removable.
using RemovableProbe = bool (*)(unsigned major, unsigned minor, const std::string& source);
bool ProbeRemovableSysfs(unsigned major, unsigned minor, const std::string& source);
// Drive type of the absolute, resolved `path` under the mounts in `text`:
// the mount whose mount point is the longest prefix wins (the later of
// stacked mounts). 0 when no mount holds it.
int DriveTypeFromMountInfo(const std::string& text, const std::string& path,
                           RemovableProbe probe = ProbeRemovableSysfs);

// Current calendar time in seconds.
uint32_t CurrentTimeSeconds();

// Per-thread linear congruential generator (state = state*214013+2531011,
// draw = (state >> 16) & 32767).
void SeedRandom(uint32_t seed);
int DrawRandom();

}  // namespace kelto
