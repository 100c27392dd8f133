#include "engine/copy_wipe.h"

#include <algorithm>
#include <memory>

#include "app/main_app.h"
#include "engine/crypt_worker.h"
#include "engine/file_helpers.h"
#include "platform/file.h"
#include "platform/fs.h"

namespace kelto {

int g_pollCount = 0;

namespace {

struct StopFailure {};

const char* const kStopped = "手動中止";

void PollStop(CCryptWorker& worker) {
    if (g_pollCount++ > 1000) {
        g_pollCount = 0;
        if (worker.IsStopSignalled()) throw StopFailure{};
    }
}

// Writes `length` bytes of `block` over the file from its start, then makes
// sure the pass reached the device before anything else happens.
void OverwritePass(CCryptWorker& worker, CFile& file, const uint8_t* block, uint64_t length) {
    file.SeekToBegin();
    for (uint64_t whole = length / kCopyBlockSize; whole > 0; --whole) {
        file.Write(block, kCopyBlockSize);
        worker.m_itemExtra += kCopyBlockSize;
        PollStop(worker);
    }
    const size_t rest = static_cast<size_t>(length % kCopyBlockSize);
    if (rest) {
        file.Write(block, rest);
        worker.m_itemExtra += rest;
    }
    file.Flush();
}

}  // namespace

int CopyFileWithProgress(CCryptWorker& worker, const std::string& source, const std::string& destination) {
    CPhaseScope phase(worker, PHASE_COPY);
    const uint64_t size = GetFileSize64(source);
    CFile in, out;
    if (!in.Open(source, CFile::modeRead | CFile::shareExclusive | CFile::typeBinary)) {
        worker.m_lastFailure = "コピー元ファイルのオープン失敗";
        return 0;
    }
    // Every copy goes to a name that is free: created exclusively, owner-only
    // until the job gives the file its final status.
    if (!out.Open(destination, CFile::modeCreate | CFile::modeCreateNew | CFile::modeWrite |
                                   CFile::shareExclusive | CFile::typeBinary)) {
        worker.m_lastFailure = "コピー先ファイルのオープン失敗";
        return 0;
    }
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kCopyBlockSize]);
    try {
        uint64_t copied = 0;
        while (copied < size) {
            const size_t n = in.Read(buffer.get(), kCopyBlockSize);
            if (n == 0) {
                worker.m_lastFailure = "コピー元ファイルが途中で終わりました";
                in.Abort();
                out.Abort();
                return 0;
            }
            out.Write(buffer.get(), n);
            worker.m_itemExtra += n;
            PollStop(worker);
            copied += n;
        }
        out.Flush();
        out.Close();
        in.Close();
        FlushFolderOf(destination);
        return 1;
    } catch (const StopFailure&) {
        worker.m_lastFailure = kStopped;
    } catch (const CFileException& e) {
        worker.m_lastFailure.clear();
        FileErrorText(e.m_cause, worker.m_lastFailure);
    }
    in.Abort();
    out.Abort();
    return 0;
}

int WipeFile(CCryptWorker& worker, const std::string& path) {
    CPhaseScope phase(worker, PHASE_WIPE);
    std::string newPath;
    MakeRandomName(newPath, path, "");
    // A file that cannot be renamed is left alone: the steps below would
    // work on a name that does not exist.
    if (!MoveFileNoReplace(path, newPath)) return 0;
    const std::string& current = newPath;
    const Settings& settings = AppSettings();
    // A read-only file cannot be deleted where this design comes from, and
    // unlink would take it unwiped: it stays, under its own name.
    const int64_t attributes = GetFileAttributesOf(current);
    if (attributes >= 0 && (attributes & FILE_ATTRIBUTE_READONLY)) {
        MoveFileNoReplace(newPath, path);
        worker.m_lastFailure.clear();
        FileErrorText(CFileException::accessDenied, worker.m_lastFailure);
        return 0;
    }
    if (settings.Zero || settings.Rand) {
        CFile file;
        CFileException error;
        if (file.Open(current, CFile::modeReadWrite | CFile::shareExclusive | CFile::typeBinary, &error)) {
            std::unique_ptr<uint8_t[]> block(new uint8_t[kCopyBlockSize]);
            try {
                const uint64_t length = file.GetLength();
                if (settings.Zero) {
                    std::fill_n(block.get(), kCopyBlockSize, 0);
                    OverwritePass(worker, file, block.get(), length);
                }
                if (settings.Rand) {
                    for (int i = 0; i < kCopyBlockSize; ++i) block[i] = static_cast<uint8_t>(DrawRandom() % 256);
                    OverwritePass(worker, file, block.get(), length);
                }
                file.Close();
            } catch (const StopFailure&) {
                worker.m_lastFailure = kStopped;
                return 0;
            } catch (const CFileException& e) {
                worker.m_lastFailure.clear();
                FileErrorText(e.m_cause, worker.m_lastFailure);
                return 0;
            }
        } else {
            // Another program holds it, or it cannot be written: never delete
            // it unwiped; leave it whole, under its own name.
            MoveFileNoReplace(newPath, path);
            worker.m_lastFailure.clear();
            FileErrorText(error.m_cause, worker.m_lastFailure);
            return 0;
        }
    }
    return DeleteFilePath(current) ? 1 : 0;
}

}  // namespace kelto
