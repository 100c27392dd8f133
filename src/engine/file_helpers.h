// Naming rules, path parts and small file helpers shared by the jobs, the
// stream decryptor, the recovery, the copy and wipe, and the walk.
#pragma once

#include <cstdint>
#include <string>

namespace kelto {

int MakeRandomName(std::string& out, const std::string& pathOrFolder, const std::string& extension);
int MakeEncryptedName(std::string& out, const std::string& source);
int MakeAliasName(const std::string& path, std::string& out);

int GetTempFolder(std::string& out);
int GetDesktopFolder(std::string& out);
int UseTempForDrive(int driveType);

int64_t ClearReadOnly(const std::string& path);
uint64_t GetFileSize64(const std::string& path);
int IsFolder(const std::string& path);
int IsExistingFile(const std::string& path);
int GetDriveTypeOfPath(const std::string& path);
int IsDriveRoot(const std::string& path);
int FileErrorText(int cause, std::string& out);

int GetFolderPart(const std::string& path, std::string& out);
int GetBaseName(const std::string& path, std::string& out);
int GetExtension(const std::string& path, std::string& out);
int GetFileNamePart(const std::string& path, std::string& out);
int JoinFolderAndName(const std::string& pathOrFolder, const std::string& name, std::string& out);

// Plain deletion of a file (never a folder) when there is one; failures are
// the caller's to ignore.
void DeleteIfExists(const std::string& path);

// Value-returning conveniences.
inline std::string FileNamePartOf(const std::string& path) {
    std::string s;
    GetFileNamePart(path, s);
    return s;
}
inline std::string FileErrorTextOf(int cause) {
    std::string s;
    FileErrorText(cause, s);
    return s;
}

}  // namespace kelto
