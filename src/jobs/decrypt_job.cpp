#include "app/main_app.h"
#include "app/message_log.h"
#include "engine/copy_wipe.h"
#include "engine/crypt_worker.h"
#include "engine/file_helpers.h"
#include "jobs/job_steps.h"
#include "jobs/jobs.h"
#include "platform/file.h"
#include "platform/fs.h"

namespace kelto {

using namespace jobs;

int DecryptFileJob(CCryptWorker& worker, const CryptItem& item) {
    const Settings& settings = AppSettings();
    CStreamCrypt& stream = worker.m_stream;
    const std::string& source = item.path;

    CPhaseScope phase(worker, PHASE_DECRYPT);
    worker.BeginItemProgress();
    stream.m_sourcePath = source;
    stream.SetCurrentFile(source);

    int64_t savedAttributes = -1;
    if (settings.WriteReadOnly) savedAttributes = ClearReadOnly(source);
    CFileStatus status;
    const bool haveStatus = CFile::GetStatus(source, status);

    const bool temp = UseTempForDrive(item.driveType) != 0;
    std::string encInput = source, plainTemp, final;
    int stage = 1;
    int result = 1;
    bool createdPlain = false;
    CFile in, out;

    try {
        if (temp) {
            const std::string t = TempFolderOrFail();
            MakeRandomName(plainTemp, t, "tmp");
            MakeRandomName(encInput, t, "cpy");
            if (!CopyFileWithProgress(worker, source, encInput)) Fail(worker.m_lastFailure);
        } else {
            MakeRandomName(plainTemp, source, "tmp");
        }
        if (!in.Open(encInput, kOpenInput))
            Fail("暗号化ファイルを開くのに失敗しました。");
        if (!out.Open(plainTemp, kCreateOutput))
            Fail("復号化ファイルを作成するのに失敗しました。");
        createdPlain = true;

        stage = 2;
        result = stream.DecryptStream(in, out) ? 1 : 0;
        in.Close();
        if (result) {
            out.Flush();
            out.Close();
        } else {
            out.Abort();
        }
        if (!result) Fail(stream.m_lastError);

        stage = 3;
        JoinFolderAndName(source, stream.m_storedName, final);
        if (IsExistingFile(final)) {
            if (settings.OverWrite) {
                if (!DeleteFilePath(final)) Fail("上書き時のファイル削除に失敗しました。", true);
            } else if (settings.AliasWrite) {
                std::string alias;
                if (!MakeAliasName(final, alias)) Fail("別名保存時のエイリアス名を作成するのに失敗しました。", true);
                final = alias;
            } else {
                Fail("同名のファイルがあります。", true);
            }
        }

        if (temp) {
            if (!DeleteFilePath(source)) Fail("");
            if (!CopyFileWithProgress(worker, plainTemp, final)) Fail("テンポラリパスからRAMディスクへの移動に失敗しました。");
            if (!WipeFile(worker, plainTemp)) Fail("テンポラリパスの削除に失敗しました。");
            if (!DeleteFilePath(encInput)) Fail("テンポラリパスの削除に失敗しました。");
        } else {
            if (!MoveFileNoReplace(plainTemp, final)) Fail("テンポラリ名からファイル名を変更するのに失敗しました。");
            // The plaintext's name must be on the disk before the encrypted file goes.
            FlushFolderOf(final);
            if (!DeleteFilePath(source)) Fail("テンポラリパスの削除に失敗しました。");
        }

        if (haveStatus) CFile::SetStatus(final, status);
        if (settings.WriteReadOnly && savedAttributes >= 0)
            SetFileAttributesOf(final, static_cast<uint32_t>(savedAttributes));
    } catch (const JobFailure& f) {
        in.Abort();
        out.Abort();
        result = 0;
        if (stage < 3) {
            if (temp) DeleteIfExists(encInput);
            if (createdPlain) DeleteIfExists(plainTemp);
            LogProblem(source, f.text);
        } else if (!temp || f.clash) {
            if (IsExistingFile(source) && IsExistingFile(plainTemp)) WipeFile(worker, plainTemp);
            // The temporary copy of the encrypted file is of no more use.
            if (temp) DeleteIfExists(encInput);
            LogProblem(final, f.text);
        } else {
            RecoverJob(final, plainTemp, encInput, source, JobKind::Decrypt, f.text);
        }
    } catch (const CFileException& e) {
        in.Abort();
        out.Abort();
        LogProblem(encInput, stream.m_lastError + " , " + FileErrorTextOf(e.m_cause));
        result = 0;
    }

    worker.EndItemProgress(item.size, item.extraWork);
    return result;
}

}  // namespace kelto
