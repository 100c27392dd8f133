#include "platform/file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/fault.h"
#include "platform/fs.h"

namespace kelto {

int CFileException::CauseFromErrno(int err) {
    switch (err) {
    case 0: return none;
    case ENOENT: return fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL: return badPath;
    case EMFILE:
    case ENFILE: return tooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return accessDenied;
    case EBADF: return invalidFile;
    case EBUSY: return removeCurrentDir;
    case ESPIPE: return badSeek;
    case EIO: return hardIO;
    case EWOULDBLOCK: return sharingViolation;
    case ENOSPC:
    case EDQUOT: return diskFull;
    default: return genericException;
    }
}

namespace {

void CloseQuietly(int fd) {
    if (fd >= 0) ::close(fd);
}

}  // namespace

CFile::~CFile() { Abort(); }

void CFile::ThrowErrno(int err) const {
    throw CFileException(CFileException::CauseFromErrno(err), m_path, err);
}

bool CFile::Open(const std::string& path, unsigned flags, CFileException* error) {
    Abort();
    m_path = path;
    m_bytesRead = m_bytesWritten = 0;

    auto fail = [&](int cause, int err) {
        if (error) *error = CFileException(cause, path, err);
        return false;
    };

    if (int cause = fault::Check(fault::Op::Open, path)) return fail(cause, 0);

    const bool writing = (flags & (modeWrite | modeReadWrite)) != 0;
    int oflags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;  // no hang on a FIFO; cleared below
    if (flags & modeReadWrite)
        oflags |= O_RDWR;
    else if (flags & modeWrite)
        oflags |= O_WRONLY;
    else
        oflags |= O_RDONLY;

    const bool createNew = (flags & modeCreateNew) != 0;
    mode_t perm = 0666;
    if (createNew) {
        oflags |= O_CREAT | O_EXCL | O_NOFOLLOW;
        perm = 0600;
    } else if (flags & modeCreate) {
        // No O_TRUNC: an existing file is truncated only once it is known to
        // be writable and, with shareExclusive, locked by us.
        oflags |= O_CREAT;
        if (flags & modePrivate) perm = 0600;
    }

    int fd;
    do {
        fd = ::open(path.c_str(), oflags, perm);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int err = errno;
        return fail(CFileException::CauseFromErrno(err), err);
    }

    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        CloseQuietly(fd);
        return fail(CFileException::CauseFromErrno(err), err);
    }
    if (S_ISDIR(st.st_mode)) {
        CloseQuietly(fd);
        return fail(CFileException::accessDenied, EISDIR);
    }
    // Root ignores permission bits; the read-only attribute must hold anyway.
    if (writing && !createNew && (st.st_mode & S_IWUSR) == 0) {
        CloseQuietly(fd);
        return fail(CFileException::accessDenied, EACCES);
    }

    const int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);

    if (flags & shareExclusive) {
        int rc;
        do {
            rc = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            const int err = errno;
            CloseQuietly(fd);
            return fail(err == EWOULDBLOCK ? CFileException::sharingViolation
                                           : CFileException::CauseFromErrno(err),
                        err);
        }
    }

    if (!createNew && (flags & modeCreate) && (flags & modePrivate) && (st.st_mode & 07777) != 0600) {
        if (::fchmod(fd, 0600) != 0) {
            const int err = errno;
            CloseQuietly(fd);
            return fail(CFileException::CauseFromErrno(err), err);
        }
    }

    if (!createNew && (flags & modeCreate) && !(flags & modeNoTruncate) && S_ISREG(st.st_mode) &&
        st.st_size != 0) {
        if (::ftruncate(fd, 0) != 0) {
            const int err = errno;
            CloseQuietly(fd);
            return fail(CFileException::CauseFromErrno(err), err);
        }
    }

    m_fd = fd;
    return true;
}

uint64_t CFile::GetLength() const {
    if (m_fd < 0) ThrowErrno(EBADF);
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) ThrowErrno(errno);
    return static_cast<uint64_t>(st.st_size);
}

size_t CFile::Read(void* buffer, size_t count) {
    if (m_fd < 0) ThrowErrno(EBADF);
    if (fault::Armed()) {
        long long eofAllowed = static_cast<long long>(std::min<size_t>(count, 1ull << 62));
        long long readAllowed = eofAllowed;
        if (fault::Check(fault::Op::ReadEof, m_path, m_bytesRead, &eofAllowed)) return 0;
        if (int cause = fault::Check(fault::Op::Read, m_path, m_bytesRead, &readAllowed))
            throw CFileException(cause, m_path);
        count = static_cast<size_t>(std::min(eofAllowed, readAllowed));
    }
    ssize_t n;
    do {
        n = ::read(m_fd, buffer, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0) ThrowErrno(errno);
    m_bytesRead += n;
    return static_cast<size_t>(n);
}

void CFile::Write(const void* buffer, size_t count) {
    if (m_fd < 0) ThrowErrno(EBADF);
    const char* p = static_cast<const char*>(buffer);
    size_t left = count;
    do {
        size_t chunk = left;
        if (fault::Armed()) {
            long long allowed = static_cast<long long>(std::min<size_t>(left, 1ull << 62));
            if (int cause = fault::Check(fault::Op::Write, m_path, m_bytesWritten, &allowed))
                throw CFileException(cause, m_path);
            chunk = static_cast<size_t>(allowed);
        }
        while (chunk > 0) {
            const ssize_t n = ::write(m_fd, p, chunk);
            if (n < 0) {
                if (errno == EINTR) continue;
                ThrowErrno(errno);
            }
            if (n == 0) ThrowErrno(ENOSPC);
            p += n;
            chunk -= static_cast<size_t>(n);
            left -= static_cast<size_t>(n);
            m_bytesWritten += n;
        }
    } while (left > 0);
}

uint64_t CFile::Seek(int64_t offset, SeekPosition from) {
    if (m_fd < 0) ThrowErrno(EBADF);
    if (int cause = fault::Check(fault::Op::Seek, m_path)) throw CFileException(cause, m_path);
    const int whence = from == begin ? SEEK_SET : from == current ? SEEK_CUR : SEEK_END;
    const off_t pos = ::lseek(m_fd, static_cast<off_t>(offset), whence);
    if (pos < 0) {
        const int err = errno;
        // A position before the start is a seek error, not a bad path.
        throw CFileException(err == EINVAL ? CFileException::badSeek : CFileException::CauseFromErrno(err),
                             m_path, err);
    }
    return static_cast<uint64_t>(pos);
}

void CFile::Flush() {
    if (m_fd < 0) ThrowErrno(EBADF);
    if (int cause = fault::Check(fault::Op::Flush, m_path)) throw CFileException(cause, m_path);
    int rc;
    do {
        rc = ::fsync(m_fd);
    } while (rc != 0 && errno == EINTR);
    // Pipes and character devices cannot be synced; there is nothing to lose.
    if (rc != 0 && errno != EINVAL && errno != EROFS) ThrowErrno(errno);
}

void CFile::SetLength(uint64_t length) {
    if (m_fd < 0) ThrowErrno(EBADF);
    if (::ftruncate(m_fd, static_cast<off_t>(length)) != 0) ThrowErrno(errno);
}

void CFile::Close() {
    if (m_fd < 0) return;
    const int fd = m_fd;
    m_fd = -1;
    if (int cause = fault::Check(fault::Op::Close, m_path)) {
        ::close(fd);
        throw CFileException(cause, m_path);
    }
    // On Linux the descriptor is gone even after EINTR.
    if (::close(fd) != 0 && errno != EINTR) ThrowErrno(errno);
}

void CFile::Abort() noexcept {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

bool CFile::GetStatus(const std::string& path, CFileStatus& status) {
    if (fault::Check(fault::Op::GetStatus, path)) return false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    status.m_mtimeSec = st.st_mtim.tv_sec;
    status.m_mtimeNsec = st.st_mtim.tv_nsec;
    status.m_atimeSec = st.st_atim.tv_sec;
    status.m_atimeNsec = st.st_atim.tv_nsec;
    status.m_mode = st.st_mode & 07777;
    status.m_attribute = AttributesFromMode(path, st.st_mode);
    status.m_size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    return true;
}

void CFile::SetStatus(const std::string& path, const CFileStatus& status) {
    if (int cause = fault::Check(fault::Op::SetStatus, path)) throw CFileException(cause, path);
    auto fail = [&](int err) { throw CFileException(CFileException::CauseFromErrno(err), path, err); };

    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(status.m_atimeSec);
    times[0].tv_nsec = static_cast<long>(status.m_atimeNsec);
    times[1].tv_sec = static_cast<time_t>(status.m_mtimeSec);
    times[1].tv_nsec = static_cast<long>(status.m_mtimeNsec);
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) fail(errno);

    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) fail(errno);
    mode_t mode = status.m_mode != 0 ? (status.m_mode & 07777) : (st.st_mode & 07777);
    if (status.m_attribute & FILE_ATTRIBUTE_READONLY)
        mode &= ~static_cast<mode_t>(0222);
    else
        mode |= S_IWUSR;
    if ((st.st_mode & 07777) != mode && ::chmod(path.c_str(), mode) != 0) fail(errno);
}

}  // namespace kelto
