#include "engine/file_helpers.h"

#include "app/main_app.h"
#include "platform/fs.h"

namespace kelto {
namespace {

// "/" and "." are ASCII and never occur inside a UTF-8 sequence, so a
// byte scan is a character scan.
size_t LastSeparator(const std::string& path) { return path.rfind(kPathSeparator); }

std::string StripTrailingSeparators(const std::string& path) {
    std::string s = path;
    while (s.size() > 1 && s.back() == kPathSeparator) s.pop_back();
    return s;
}

std::string FolderOf(const std::string& pathOrFolder) {
    if (IsFolder(pathOrFolder)) return StripTrailingSeparators(pathOrFolder);
    std::string folder;
    GetFolderPart(pathOrFolder, folder);
    return folder;
}

const char* const kFileErrorTexts[] = {
    "",
    "未定義エラー",
    "ファイル未定義",
    "不正パス",
    "開いているファイル数の超過",
    "ファイル アクセス禁止",
    "不正ファイル ハンドル使用",
    "作業中の現在のフォルダの削除不可",
    "フォルダ 容量不足",
    "ファイル ポインタ設定エラー",
    "ハードウェア エラー",
    "SHARE.EXE が読み込まれていない、または共有領域ロック済み",
    "ロック済み領域のロック要求",
    "ディスク 容量不足",
    "ファイルの終わりに到達",
};

}  // namespace

int MakeRandomName(std::string& out, const std::string& pathOrFolder, const std::string& extension) {
    // The time alone would give every folder of a run the same first name
    // (and the same wipe bytes); mixing in a count of calls keeps names apart.
    thread_local uint32_t calls = 0;
    SeedRandom(CurrentTimeSeconds() ^ (++calls * 2654435761u));
    const std::string folder = FolderOf(pathOrFolder);
    do {
        std::string name;
        for (int i = 0; i < 13; ++i) {
            const int r = DrawRandom();
            switch (r % 3) {
                case 0: name += static_cast<char>('A' + DrawRandom() % 26); break;
                case 1: name += static_cast<char>('a' + DrawRandom() % 26); break;
                default: name += static_cast<char>('0' + DrawRandom() % 10); break;
            }
        }
        // An empty extension would leave a trailing dot, which this file
        // system keeps; the name stands alone instead.
        out = folder + kPathSeparator + name;
        if (!extension.empty()) out += "." + extension;
    } while (IsExistingFile(out));
    return 1;
}

int MakeEncryptedName(std::string& out, const std::string& source) {
    out = source + ".cpy";
    if (!IsExistingFile(out)) return 1;
    std::string folder, base, ext;
    GetFolderPart(source, folder);
    GetBaseName(source, base);
    GetExtension(source, ext);
    for (unsigned long long n = 0;; ++n) {
        out = folder + kPathSeparator + base + "~" + std::to_string(n) + "." + ext + ".cpy";
        if (!IsExistingFile(out)) return 1;
    }
}

int MakeAliasName(const std::string& path, std::string& out) {
    std::string folder, base, ext;
    if (!GetExtension(path, ext) || !GetFolderPart(path, folder) || !GetBaseName(path, base)) return 0;
    out = folder + kPathSeparator + base + "." + ext;
    for (unsigned long long n = 0; IsExistingFile(out) || IsFolder(out); ++n)
        out = folder + kPathSeparator + base + "~" + std::to_string(n) + "." + ext;
    return 1;
}

int GetTempFolder(std::string& out) {
    out = GetTempFolderPath();
    return out.empty() ? 0 : 1;
}

int GetDesktopFolder(std::string& out) {
    out = GetDesktopFolderPath();
    return out.empty() ? 0 : 1;
}

int UseTempForDrive(int driveType) {
    return AppSettings().RamTemp && (driveType == DRIVE_RAMDISK || driveType == DRIVE_REMOVABLE) ? 1 : 0;
}

int64_t ClearReadOnly(const std::string& path) {
    const int64_t attributes = GetFileAttributesOf(path);
    if (attributes < 0) return -1;
    if ((attributes & FILE_ATTRIBUTE_READONLY) &&
        !SetFileAttributesOf(path, static_cast<uint32_t>(attributes) & ~FILE_ATTRIBUTE_READONLY))
        return -1;
    return attributes;
}

uint64_t GetFileSize64(const std::string& path) {
    FindEntry entry;
    if (!LookupEntry(path, entry)) return ~0ULL;
    return entry.size;
}

int IsFolder(const std::string& path) {
    FindEntry entry;
    if (!LookupEntry(path, entry)) return 0;
    return entry.kind == EntryKind::Folder && entry.name != "." && entry.name != "..";
}

int IsExistingFile(const std::string& path) {
    FindEntry entry;
    if (!LookupEntry(path, entry)) return 0;
    return entry.kind != EntryKind::Folder;
}

int GetDriveTypeOfPath(const std::string& path) {
    if (path.find(kPathSeparator) == std::string::npos) return 0;
    return GetDriveTypeOf(path);
}

int IsDriveRoot(const std::string& path) {
    return !path.empty() && path.find_first_not_of(kPathSeparator) == std::string::npos;
}

int FileErrorText(int cause, std::string& out) {
    if (cause < 0 || cause >= static_cast<int>(std::size(kFileErrorTexts))) return 0;
    out = kFileErrorTexts[cause];
    return 1;
}

void DeleteIfExists(const std::string& path) {
    if (!path.empty() && IsExistingFile(path)) DeleteFilePath(path);
}

int GetFolderPart(const std::string& path, std::string& out) {
    const size_t sep = LastSeparator(path);
    if (sep == std::string::npos) {
        out = path;
        return 0;
    }
    out = path.substr(0, sep);
    return 1;
}

// The name's dot must follow its last separator and not start the name.
static bool SplitName(const std::string& path, size_t& sep, size_t& dot) {
    sep = LastSeparator(path);
    dot = path.rfind('.');
    if (sep == std::string::npos || dot == std::string::npos || dot < sep) return false;
    return dot != sep + 1;
}

int GetBaseName(const std::string& path, std::string& out) {
    size_t sep, dot;
    if (!SplitName(path, sep, dot)) return 0;
    out = path.substr(sep + 1, dot - sep - 1);
    return 1;
}

int GetExtension(const std::string& path, std::string& out) {
    size_t sep, dot;
    if (!SplitName(path, sep, dot)) return 0;
    out = path.substr(dot + 1);
    return 1;
}

int GetFileNamePart(const std::string& path, std::string& out) {
    const size_t sep = LastSeparator(path);
    if (sep == std::string::npos) return 0;
    out = path.substr(sep + 1);
    return 1;
}

int JoinFolderAndName(const std::string& pathOrFolder, const std::string& name, std::string& out) {
    std::string folder = FolderOf(pathOrFolder);
    if (folder == "/") folder.clear();  // "/" + name, not "//" + name
    out = folder + kPathSeparator + name;
    return 1;
}

}  // namespace kelto
