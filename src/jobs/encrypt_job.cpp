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

int EncryptFileJob(CCryptWorker& worker, const CryptItem& item) {
    const Settings& settings = AppSettings();
    CStreamCrypt& stream = worker.m_stream;
    const std::string& source = item.path;

    CPhaseScope phase(worker, PHASE_ENCRYPT);
    worker.BeginItemProgress();
    stream.SetCurrentFile(source);

    int64_t savedAttributes = -1;
    if (settings.WriteReadOnly) savedAttributes = ClearReadOnly(source);
    CFileStatus status;
    const bool haveStatus = CFile::GetStatus(source, status);

    std::string destination;
    if (settings.RandomeName)
        MakeRandomName(destination, source, "cpy");
    else
        MakeEncryptedName(destination, source);

    const bool temp = UseTempForDrive(item.driveType) != 0;
    std::string workPlain = source, workCipher = destination;
    int stage = 1;
    int result = 1;
    bool createdCipher = false;
    CFile plain, cipher;

    try {
        if (temp) {
            const std::string t = TempFolderOrFail();
            MakeRandomName(workPlain, t, "tmppln");
            MakeRandomName(workCipher, t, "tmpcpy");
            if (!CopyFileWithProgress(worker, source, workPlain)) Fail(worker.m_lastFailure);
        }
        if (!cipher.Open(workCipher, kCreateOutput))
            Fail("暗号化ファイルを開くのに失敗しました。");
        createdCipher = true;
        if (!plain.Open(workPlain, kOpenInput))
            Fail("ファイルを作成するのに失敗しました。");

        stream.SetCurrentFile(source);
        stream.m_storedName = FileNamePartOf(source);

        stage = 2;
        result = stream.EncryptStream(plain, cipher) ? 1 : 0;
        if (result) {
            // The encrypted data reaches the disk before any plaintext goes.
            cipher.Flush();
            cipher.Close();
            FlushFolderOf(workCipher);
        } else {
            cipher.Abort();
        }
        plain.Close();
        if (!result) Fail(stream.m_lastError);

        stage = 3;
        if (temp) {
            if (!WipeFile(worker, source)) Fail(worker.m_lastFailure);
            if (!CopyFileWithProgress(worker, workCipher, destination))
                Fail("暗号化は成功しましたが、暗号化テンポラリファイルの移動に失敗しました。");
            if (!DeleteFilePath(workCipher))
                Fail("暗号化は成功しましたが暗号化テンポラリファイルの削除に失敗しました。");
            if (!WipeFile(worker, workPlain))
                Fail("暗号化は成功しましたが復号化テンポラリファイルの削除に失敗しました。");
        } else {
            if (!WipeFile(worker, source)) Fail("暗号化は成功しましたが復号化ファイルの削除に失敗しました。");
        }

        if (haveStatus) CFile::SetStatus(destination, status);
        if (settings.WriteReadOnly && savedAttributes >= 0)
            SetFileAttributesOf(destination, static_cast<uint32_t>(savedAttributes));
    } catch (const JobFailure& f) {
        plain.Abort();
        cipher.Abort();
        // Every problem fails the item, so a run that left a file undone
        // never reports success.
        result = 0;
        if (stage < 3) {
            // Only what this job created goes: the destination does not
            // exist yet on the temporary route, and a name that was taken
            // meanwhile belongs to someone else.
            if (createdCipher) DeleteIfExists(workCipher);
            if (temp) DeleteIfExists(workPlain);
            LogProblem(source, f.text);
        } else if (temp) {
            RecoverJob(source, workPlain, workCipher, destination, JobKind::Encrypt, f.text);
        } else {
            LogProblem(destination, f.text);
        }
    } catch (const CFileException& e) {
        plain.Abort();
        cipher.Abort();
        LogProblem(workCipher, stream.m_lastError + " , " + FileErrorTextOf(e.m_cause));
        result = 0;
    }

    worker.EndItemProgress(item.size, item.extraWork);
    return result;
}

}  // namespace kelto
