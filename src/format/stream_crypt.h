// The stream engine: one open plaintext file into one ".cpy" file and back,
// through one 1 MiB buffer that serves every file of a run.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "crypto/cast_cipher.h"
#include "crypto/parallel_cipher.h"

namespace kelto {

class CFile;
class CFileException;

// The encryptor's refusals end the whole run; the file jobs let it pass.
struct CRunAbort {
    int value = 1;
};

class CStreamCrypt {
public:
    static constexpr int kBufferSize = 1048576;

    CStreamCrypt();
    CStreamCrypt(const CStreamCrypt&) = delete;
    CStreamCrypt& operator=(const CStreamCrypt&) = delete;

    int SetKey(const char* password);
    // Throws CRunAbort after a refusal; false with m_lastError otherwise.
    bool EncryptStream(CFile& input, CFile& output);
    // Never throws.
    bool DecryptStream(CFile& input, CFile& output);

    // The current-file text is read by the UI thread while a run goes on.
    void SetCurrentFile(const std::string& path);
    std::string GetCurrentFile() const;

    std::atomic<int> m_stopFlag{0};
    std::atomic<uint64_t> m_itemBytes{0};
    std::string m_sourcePath;
    std::string m_storedName;
    std::string m_lastError;
    CCastCipher m_cipher;

private:
    // Fills the buffer until it is full or `total` is reached; false when
    // the input ends early.
    bool FillBuffer(CFile& input, uint64_t& done, uint64_t total, size_t& held);
    [[noreturn]] void Refuse(const char* key);
    void CipherBody(CFile& input, CFile& output, uint64_t& done, uint64_t length, bool decrypt);
    void SetFileError(const CFileException& e);

    mutable std::mutex m_currentFileLock;
    std::string m_currentFile;
    std::unique_ptr<uint8_t[]> m_buffer;
    int m_bufferSize = kBufferSize;
    CParallelCipher m_parallel;
};

}  // namespace kelto
