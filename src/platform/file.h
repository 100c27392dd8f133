// Files as the rest of the program sees them: a small class in the manner of
// the class library the design comes from, over POSIX descriptors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

namespace kelto {

// Cause codes 0..14; the numbers are part of the contract with FileErrorText.
class CFileException : public std::exception {
public:
    enum Cause {
        none = 0,
        genericException = 1,
        fileNotFound = 2,
        badPath = 3,
        tooManyOpenFiles = 4,
        accessDenied = 5,
        invalidFile = 6,
        removeCurrentDir = 7,
        directoryFull = 8,
        badSeek = 9,
        hardIO = 10,
        sharingViolation = 11,
        lockViolation = 12,
        diskFull = 13,
        endOfFile = 14,
    };

    CFileException() = default;
    CFileException(int cause, std::string fileName, int osError = 0)
        : m_cause(cause), m_osError(osError), m_fileName(std::move(fileName)) {}

    const char* what() const noexcept override { return "file exception"; }

    // errno -> cause, as the platform notes give it.
    static int CauseFromErrno(int err);

    int m_cause = none;
    int m_osError = 0;
    std::string m_fileName;
};

// Times and attributes of a file. A creation time cannot be set here.
struct CFileStatus {
    int64_t m_mtimeSec = 0;
    int64_t m_mtimeNsec = 0;
    int64_t m_atimeSec = 0;
    int64_t m_atimeNsec = 0;
    uint32_t m_mode = 0;       // permission bits (07777)
    uint32_t m_attribute = 0;  // synthesised attributes word (see fs.h)
    uint64_t m_size = 0;
};

class CFile {
public:
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareExclusive = 0x0010,  // flock(LOCK_EX|LOCK_NB) with the open
        modeCreate = 0x1000,      // create, truncate an existing file
        modeNoTruncate = 0x2000,  // with modeCreate: keep existing contents
        typeBinary = 0x8000,      // no effect here; kept for readability
        // Our own: create a new file only (O_EXCL, never through a link),
        // readable by the owner only. Used for every plaintext we create.
        modeCreateNew = 0x10000,
        modePrivate = 0x20000,    // with modeCreate: permissions 0600
    };
    enum SeekPosition { begin = 0, current = 1, end = 2 };

    CFile() = default;
    ~CFile();  // closes without throwing
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // false on failure; the cause goes into *error when given. Opening for
    // writing a file whose read-only attribute is set fails with
    // accessDenied even for root; a folder is never opened (accessDenied);
    // a file another open holds with shareExclusive gives sharingViolation,
    // and is then left untouched (truncation comes after the lock).
    bool Open(const std::string& path, unsigned flags, CFileException* error = nullptr);

    bool IsOpen() const { return m_fd >= 0; }
    const std::string& GetFilePath() const { return m_path; }

    // All of these throw CFileException.
    uint64_t GetLength() const;
    // Bytes that one read gives (may be fewer than asked); 0 at end of file.
    size_t Read(void* buffer, size_t count);
    void Write(const void* buffer, size_t count);    // all bytes or an exception
    uint64_t Seek(int64_t offset, SeekPosition from);
    void SeekToBegin() { Seek(0, begin); }
    void Flush();   // to stable storage (fsync)
    void Close();
    void SetLength(uint64_t length);

    void Abort() noexcept;  // close, ignoring every error

    // Status of a path (lstat). false when it cannot be read.
    static bool GetStatus(const std::string& path, CFileStatus& status);
    // Sets both times, the permission bits (m_mode; 0 keeps the file's own)
    // and then the read-only attribute: set clears every write bit, clear
    // gives the owner write permission. Throws.
    static void SetStatus(const std::string& path, const CFileStatus& status);

private:
    [[noreturn]] void ThrowErrno(int err) const;

    int m_fd = -1;
    std::string m_path;
    // Bytes read and written since the open, for delayed injected faults.
    long long m_bytesRead = 0;
    long long m_bytesWritten = 0;
};

}  // namespace kelto
