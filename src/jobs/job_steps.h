// Pieces both file jobs share: how a step fails, the temporary folder, and
// how the two work files are opened.
#pragma once

#include <string>

#include "engine/file_helpers.h"
#include "platform/file.h"

namespace kelto::jobs {

struct JobFailure {
    std::string text;
    bool clash = false;  // a decrypted name clash that could not be settled
};

[[noreturn]] inline void Fail(const std::string& text, bool clash = false) { throw JobFailure{text, clash}; }

inline std::string TempFolderOrFail() {
    std::string t;
    if (!GetTempFolder(t)) Fail("テンポラリフォルダがありません。");
    return t;
}

// The input is opened for writing too, so that a read-only file or one that
// another copy holds is refused as the jobs expect.
inline constexpr unsigned kOpenInput = CFile::modeReadWrite | CFile::shareExclusive | CFile::typeBinary;
// Outputs get names chosen free: created exclusively, never through a name
// or link that appeared meanwhile, owner-only until their final status.
inline constexpr unsigned kCreateOutput =
    CFile::modeCreate | CFile::modeCreateNew | CFile::modeReadWrite | CFile::shareExclusive | CFile::typeBinary;

}  // namespace kelto::jobs
