#include "format/stream_crypt.h"

#include "app/message_log.h"
#include "app/text_table.h"
#include "engine/file_helpers.h"
#include "format/cpy_format.h"
#include "platform/file.h"

#include <algorithm>
#include <cstring>

namespace kelto {
namespace {

struct TextFailure {
    std::string text;
};

[[noreturn]] void Fail(std::string text) { throw TextFailure{std::move(text)}; }

// Reads exactly `count` bytes unless the file ends first; returns the count read.
size_t ReadFully(CFile& file, uint8_t* data, size_t count) {
    size_t held = 0;
    while (held < count) {
        const size_t n = file.Read(data + held, count - held);
        if (n == 0) break;
        held += n;
    }
    return held;
}

}  // namespace

CStreamCrypt::CStreamCrypt() : m_buffer(new uint8_t[kBufferSize]), m_parallel(2) {}

int CStreamCrypt::SetKey(const char* password) { return m_cipher.SetKey(password); }

void CStreamCrypt::SetCurrentFile(const std::string& path) {
    std::lock_guard<std::mutex> g(m_currentFileLock);
    m_currentFile = path;
}

std::string CStreamCrypt::GetCurrentFile() const {
    std::lock_guard<std::mutex> g(m_currentFileLock);
    return m_currentFile;
}

void CStreamCrypt::Refuse(const char* key) {
    LogProblem(GetCurrentFile(), GetText(key));
    throw CRunAbort{1};
}

bool CStreamCrypt::FillBuffer(CFile& input, uint64_t& done, uint64_t total, size_t& held) {
    held = 0;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(m_bufferSize, total - done));
    while (held < want) {
        const size_t n = input.Read(m_buffer.get() + held, want - held);
        if (n == 0) break;  // ended before its length: never wait for bytes that will not come
        held += n;
    }
    done += held;
    return held == want;
}

void CStreamCrypt::SetFileError(const CFileException& e) {
    m_lastError.clear();
    FileErrorText(e.m_cause, m_lastError);
}

// The chunk loop of both directions: whole buffers enciphered in place.
void CStreamCrypt::CipherBody(CFile& input, CFile& output, uint64_t& done, uint64_t length, bool decrypt) {
    for (;;) {
        if (m_stopFlag) Fail(GetText(decrypt ? "message_decryption_canceled" : "message_encryption_canceled"));
        size_t held;
        // The length is a whole number of blocks when decrypting, so a short
        // fill is the only way to end with a partial block.
        if (!FillBuffer(input, done, length, held))
            Fail(GetText(decrypt ? "error_broken_kelto_format" : "error_read_file"));
        if (decrypt)
            m_parallel.Decrypt(m_cipher, m_buffer.get(), held);
        else
            m_parallel.Encrypt(m_cipher, m_buffer.get(), held);
        output.Write(m_buffer.get(), held);
        m_itemBytes += held;
        if (done == length) return;
    }
}

bool CStreamCrypt::EncryptStream(CFile& input, CFile& output) {
    m_stopFlag = 0;
    try {
        uint64_t done = 0;

        uint8_t check[kCheckBlockSize];
        if (!BuildCheckBlock(m_cipher.KeyBytes(), check)) Refuse("error_word");
        uint8_t enciphered[kCheckBlockSize], back[kCheckBlockSize];
        m_cipher.EncryptBlock(enciphered, check);
        m_cipher.EncryptBlock(enciphered + 8, check + 8);
        m_cipher.DecryptBlock(back, enciphered);
        m_cipher.DecryptBlock(back + 8, enciphered + 8);
        if (std::memcmp(back, check, kCheckBlockSize) != 0) Refuse("error_safety_check");
        output.Write(enciphered, kCheckBlockSize);
        m_itemBytes += kCheckBlockSize;

        uint8_t name[kNameBlockSize];
        if (!BuildNameBlock(m_storedName, name)) Refuse("error_max_path");
        m_cipher.EncryptBlocks(name, kNameBlockSize);
        output.Write(name, kNameBlockSize);
        m_itemBytes += kNameBlockSize;

        // One length for the remainder and the body: a file whose length
        // changed in between would otherwise leave a body that is not whole blocks.
        const uint64_t length = input.GetLength();
        const size_t r = static_cast<size_t>(length % 8);
        uint8_t first[8] = {};
        if (r > 0) {
            const size_t n = ReadFully(input, first, r);
            done += n;
            if (n != r) Refuse("error_read_file");
        }
        uint8_t remainder[kRemainderBlockSize];
        BuildRemainderBlock(first, r, remainder);
        m_cipher.EncryptBlock(remainder, remainder);
        output.Write(remainder, kRemainderBlockSize);
        m_itemBytes += kRemainderBlockSize;

        CipherBody(input, output, done, length, false);
        return true;
    } catch (const TextFailure& f) {
        m_lastError = f.text;
    } catch (const CFileException& e) {
        SetFileError(e);
    }
    return false;
}

bool CStreamCrypt::DecryptStream(CFile& input, CFile& output) {
    try {
        input.SeekToBegin();
        output.SeekToBegin();
        const uint64_t length = input.GetLength();
        if (!IsValidEncryptedSize(length)) Fail("暗号化ファイルサイズが異常です。");
        uint64_t done = 0;

        uint8_t check[kCheckBlockSize];
        if (ReadFully(input, check, kCheckBlockSize) != kCheckBlockSize)
            Fail("暗号化ファイルの読み込みエラー:Decrypt:Key");
        m_itemBytes += kCheckBlockSize;
        done = kCheckBlockSize;
        m_cipher.DecryptBlocks(check, kCheckBlockSize);
        if (!CheckBlockMatches(check, m_cipher.KeyBytes())) Fail(GetText("error_password_missing"));

        uint8_t nameBlock[kNameBlockSize];
        if (ReadFully(input, nameBlock, kNameBlockSize) != kNameBlockSize)
            Fail("暗号化ファイルの読み込みエラー:Decript.FileName");
        m_itemBytes += kNameBlockSize;
        done += kNameBlockSize;
        m_cipher.DecryptBlocks(nameBlock, kNameBlockSize);
        bool heldNul = false;
        const std::string name = ParseNameBlock(nameBlock, &heldNul);
        if (name.empty()) Fail("復号化ファイル名の取得に失敗しました。Decript.FileName");
        // The name comes from the file: it must not lead out of its folder.
        if (!IsSafeStoredName(name, heldNul)) Fail("復号化ファイル名が不正です。Decript.FileName");
        std::string target;
        JoinFolderAndName(m_sourcePath, name, target);
        SetCurrentFile(target);
        m_storedName = name;

        uint8_t remainder[kRemainderBlockSize];
        if (ReadFully(input, remainder, kRemainderBlockSize) != kRemainderBlockSize)
            Fail("暗号化ファイルのパディング読み込みに失敗しました");
        m_itemBytes += kRemainderBlockSize;
        done += kRemainderBlockSize;
        m_cipher.DecryptBlock(remainder, remainder);
        const uint8_t* first = nullptr;
        const int count = ParseRemainderBlock(remainder, &first);
        if (count < 0) Fail("暗号化ファイルのパディングが壊れています");
        if (count > 0) output.Write(first, static_cast<size_t>(count));

        CipherBody(input, output, done, length, true);
        return true;
    } catch (const TextFailure& f) {
        m_lastError = f.text;
    } catch (const CFileException& e) {
        SetFileError(e);
    } catch (...) {
        m_lastError = GetText("error_read_file");
    }
    return false;
}

}  // namespace kelto
