// The seam through which tests make platform operations fail. Tests run as
// root, so permissions cannot do it. Nothing outside tests arms it.
#pragma once

#include <string>

namespace kelto::fault {

enum class Op {
    Open,          // CFile::Open
    Read,          // CFile::Read
    ReadEof,       // CFile::Read returns 0 (a file that ended early); cause unused
    Write,         // CFile::Write
    Seek,
    Flush,
    Close,
    GetStatus,     // CFile::GetStatus returns false
    SetStatus,     // CFile::SetStatus throws
    GetAttributes,
    SetAttributes,
    Move,          // MoveFileNoReplace
    Delete,        // DeleteFilePath
    ListDir,       // directory search finds nothing
    StoreOpen,     // the per-user store cannot be opened or created
    StoreWrite,    // a write of the per-user store fails
};

// Make `op` fail on every path that equals `path` or, when `path` ends in
// "*", on every path that starts with the text before it. `cause` is the
// CFileException cause (or errno-free failure for bool operations).
// `afterBytes` delays Read, ReadEof and Write faults until that many bytes
// have passed through the file; `count` limits how many times it fires
// (-1: always).
void Inject(Op op, const std::string& path, int cause = 5, long long afterBytes = 0, int count = -1);

// A callback run just before `op` is carried out on a matching path: lets a
// test change the world at an exact moment (e.g. delete a file mid-job).
void OnOperation(Op op, const std::string& path, void (*hook)(const std::string& path, void* user), void* user);

// Drive type reported for every path below `pathPrefix` (longest prefix wins).
void SetDriveType(const std::string& pathPrefix, int driveType);

// Folder overrides (empty string: "the platform cannot tell").
void SetTempFolder(const std::string& folder);
void SetDesktopFolder(const std::string& folder);
void SetConfigHome(const std::string& folder);

void ClearAll();

// ---- used by the platform layer itself ----
// Returns the cause to fail with, or 0 to go on. For Read, ReadEof and
// Write, `bytesSoFar` is the count already passed through the open file;
// while a delayed fault is not yet due, *allowed (when given) is lowered to
// the bytes that may still pass before it fires. Hooks run first.
int Check(Op op, const std::string& path, long long bytesSoFar = 0, long long* allowed = nullptr);
bool Armed();  // cheap test: is anything injected at all?
bool OverrideDriveType(const std::string& path, int& driveType);
bool OverrideTempFolder(std::string& folder);
bool OverrideDesktopFolder(std::string& folder);
bool OverrideConfigHome(std::string& folder);

}  // namespace kelto::fault
