#include <cstdio>

#include "app/message_log.h"
#include "engine/file_helpers.h"
#include "jobs/jobs.h"
#include "platform/fs.h"

namespace kelto {
namespace {


std::string WithFailure(const char* format, const std::string& failure) {
    std::string text = format;
    const size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, failure);
    return text;
}

// Moves `file` to the desktop under `name`'s file name; the target on success.
bool SaveToDesktop(const std::string& desk, const std::string& file, const std::string& nameOf, std::string& target) {
    JoinFolderAndName(desk, FileNamePartOf(nameOf), target);
    std::string alias;
    if (MakeAliasName(target, alias)) target = alias;
    return MoveFileNoReplace(file, target);
}

}  // namespace

void RecoverJob(const std::string& anchor, const std::string& anchorTemp, const std::string& otherTemp,
                const std::string& other, JobKind kind, const std::string& failureText) {
    const bool encrypt = kind == JobKind::Encrypt;
    std::string desk;
    GetDesktopFolder(desk);

    if (IsExistingFile(anchor) && IsExistingFile(anchorTemp)) {
        if (GetFileSize64(anchor) >= GetFileSize64(anchorTemp)) {
            DeleteFilePath(anchorTemp);
            DeleteIfExists(otherTemp);
            DeleteIfExists(other);
            LogProblem(anchor, "リカバリーシステムが作動し以前の状態に変更されました。");
            return;
        }
        DeleteFilePath(anchor);  // shorter than its copy: taken as incomplete
    }

    std::string target;
    if (!desk.empty() && IsExistingFile(anchorTemp) && SaveToDesktop(desk, anchorTemp, anchor, target)) {
        DeleteIfExists(anchor);
        DeleteIfExists(otherTemp);
        DeleteIfExists(other);
        LogProblem(target, WithFailure(encrypt ? "%s リカバリーシステムが作動し暗号化前のファイルがデスクトップ上に作成されました。"
                                               : "%s リカバリーシステムが作動しデスクトップ上に作成されました。",
                                       failureText));
        return;
    }
    if (!desk.empty() && IsExistingFile(otherTemp) && SaveToDesktop(desk, otherTemp, other, target)) {
        DeleteIfExists(anchor);
        DeleteIfExists(anchorTemp);
        DeleteIfExists(other);
        LogProblem(target, WithFailure("%s リカバリーシステムが作動し暗号化ファイルがデスクトップ上に作成されました。", failureText));
        return;
    }
    LogProblem(otherTemp, WithFailure("%s リカバリーシステム作動に失敗しました。", failureText));
}

}  // namespace kelto
