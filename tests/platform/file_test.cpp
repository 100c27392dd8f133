#include "platform/file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/fault.h"
#include "platform/fs.h"
#include "test_util.h"

namespace kelto {
namespace {

using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

unsigned PermissionsOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

int OpenCause(const std::string& path, unsigned flags) {
    CFile f;
    CFileException e;
    if (f.Open(path, flags, &e)) return 0;
    return e.m_cause;
}

TEST(CFileException, CauseFromErrno) {
    const struct { int err, cause; } cases[] = {
        {ENOENT, 2},  {ENOTDIR, 3}, {ENAMETOOLONG, 3}, {ELOOP, 3},   {EINVAL, 3},
        {EMFILE, 4},  {ENFILE, 4},  {EACCES, 5},       {EPERM, 5},   {EROFS, 5},
        {EISDIR, 5},  {EBADF, 6},   {EBUSY, 7},        {ESPIPE, 9},  {EIO, 10},
        {EWOULDBLOCK, 11},          {ENOSPC, 13},      {EDQUOT, 13}, {EEXIST, 1},
        {ENXIO, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(CFileException::CauseFromErrno(c.err), c.cause) << "errno " << c.err;
}

TEST(CFileOpen, FailureCauses) {
    ScratchDir dir;
    WriteFile(dir / "file", "x");
    WriteFile(dir / "readonly", "keep");
    ASSERT_TRUE(SetFileAttributesOf(dir / "readonly", FILE_ATTRIBUTE_READONLY));
    const unsigned rw = CFile::modeReadWrite | CFile::shareExclusive;
    const struct { std::string path; unsigned flags; int cause; } cases[] = {
        {dir / "missing", CFile::modeRead, 2},
        {dir / "nofolder/x", CFile::modeRead, 2},
        {dir / "nofolder/x", CFile::modeCreate | CFile::modeWrite, 2},
        {dir / "file/x", CFile::modeRead, 3},
        {dir.path(), CFile::modeRead, 5},
        {dir.path(), CFile::modeReadWrite, 5},
        {dir / "readonly", rw, 5},
        {dir / "readonly", CFile::modeCreate | CFile::modeWrite, 5},
        {dir / "readonly", CFile::modeRead | CFile::shareExclusive, 0},
        {dir / "file", rw, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(OpenCause(c.path, c.flags), c.cause) << c.path << " flags " << c.flags;
    EXPECT_EQ(ReadFile(dir / "readonly"), "keep");
}

TEST(CFileOpen, ExclusiveLockRefusesSecondOpenAndLeavesContents) {
    ScratchDir dir;
    const std::string path = dir / "held";
    WriteFile(path, "contents");
    CFile holder;
    ASSERT_TRUE(holder.Open(path, CFile::modeReadWrite | CFile::shareExclusive));
    EXPECT_EQ(OpenCause(path, CFile::modeRead | CFile::shareExclusive), 11);
    EXPECT_EQ(OpenCause(path, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive), 11);
    EXPECT_EQ(ReadFile(path), "contents");  // a refused create does not truncate
    EXPECT_EQ(OpenCause(path, CFile::modeRead), 0);  // without sharing rules: allowed
    holder.Close();
    EXPECT_EQ(OpenCause(path, CFile::modeRead | CFile::shareExclusive), 0);
}

TEST(CFileOpen, CreateTruncatesUnlessNoTruncateAndPrivateGives0600) {
    ScratchDir dir;
    const std::string path = dir / "f";
    WriteFile(path, "old contents");
    ::chmod(path.c_str(), 0644);
    {
        CFile f;
        ASSERT_TRUE(f.Open(path, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite));
    }
    EXPECT_EQ(ReadFile(path), "old contents");
    {
        CFile f;
        ASSERT_TRUE(f.Open(path, CFile::modeCreate | CFile::modePrivate | CFile::modeWrite));
        f.Write("new", 3);
        f.Close();
    }
    EXPECT_EQ(ReadFile(path), "new");
    EXPECT_EQ(PermissionsOf(path), 0600u);

    CFile created;
    ASSERT_TRUE(created.Open(dir / "fresh", CFile::modeCreate | CFile::modePrivate | CFile::modeWrite));
    EXPECT_EQ(PermissionsOf(dir / "fresh"), 0600u);
}

TEST(CFileOpen, CreateNewNeverGoesThroughAnExistingName) {
    ScratchDir dir;
    const unsigned flags = CFile::modeCreateNew | CFile::modeWrite | CFile::shareExclusive;
    WriteFile(dir / "exists", "mine");
    ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "dangling").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "exists").c_str(), (dir / "link").c_str()), 0);
    for (const char* name : {"exists", "dangling", "link"}) EXPECT_NE(OpenCause(dir / name, flags), 0) << name;
    EXPECT_FALSE(test::Exists(dir / "target"));
    EXPECT_EQ(ReadFile(dir / "exists"), "mine");

    const mode_t old = ::umask(0);
    CFile f;
    const bool opened = f.Open(dir / "new", flags);
    ::umask(old);
    ASSERT_TRUE(opened);
    EXPECT_EQ(PermissionsOf(dir / "new"), 0600u);
}

TEST(CFileIo, ReadWriteSeekLength) {
    ScratchDir dir;
    CFile f;
    ASSERT_TRUE(f.Open(dir / "f", CFile::modeCreate | CFile::modeReadWrite));
    const std::string data = "0123456789";
    f.Write(data.data(), data.size());
    EXPECT_EQ(f.GetLength(), 10u);
    EXPECT_EQ(f.Seek(-4, CFile::end), 6u);
    char buf[16] = {};
    EXPECT_EQ(f.Read(buf, sizeof buf), 4u);
    EXPECT_EQ(std::string(buf, 4), "6789");
    EXPECT_EQ(f.Read(buf, sizeof buf), 0u);  // end of file is not an error
    f.SeekToBegin();
    EXPECT_EQ(f.Read(buf, 3), 3u);
    EXPECT_EQ(std::string(buf, 3), "012");
    try {
        f.Seek(-100, CFile::current);
        ADD_FAILURE() << "seek before the start";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.m_cause, CFileException::badSeek);
    }
    f.SetLength(2);
    EXPECT_EQ(f.GetLength(), 2u);
    f.Flush();
    f.Close();
    EXPECT_FALSE(f.IsOpen());
    EXPECT_THROW(f.GetLength(), CFileException);
}

// The cause of the exception `fn` throws, or 0.
template <typename Fn>
int ThrownCause(Fn fn) {
    try {
        fn();
    } catch (const CFileException& e) {
        return e.m_cause;
    }
    return 0;
}

TEST(CFileFaults, DelayedWriteFaultLetsExactlyThatManyBytesThrough) {
    ScratchDir dir;
    const std::string path = dir / "out";
    fault::Inject(fault::Op::Write, path, CFileException::diskFull, 10);
    CFile f;
    ASSERT_TRUE(f.Open(path, CFile::modeCreate | CFile::modeWrite));
    f.Write("abcd", 4);
    EXPECT_EQ(ThrownCause([&] { f.Write("efghijklmnop", 12); }), CFileException::diskFull);
    f.Close();
    EXPECT_EQ(ReadFile(path), "abcdefghij");
}

TEST(CFileFaults, DelayedReadFaultAndEarlyEnd) {
    ScratchDir dir;
    const std::string path = dir / "in";
    WriteFile(path, std::string(100, 'x'));
    char buf[100];
    {
        fault::Inject(fault::Op::Read, path, CFileException::hardIO, 30);
        CFile f;
        ASSERT_TRUE(f.Open(path, CFile::modeRead));
        EXPECT_EQ(f.Read(buf, 20), 20u);
        EXPECT_EQ(f.Read(buf, 100), 10u);
        EXPECT_EQ(ThrownCause([&] { f.Read(buf, 100); }), CFileException::hardIO);
    }
    fault::ClearAll();
    {
        fault::Inject(fault::Op::ReadEof, path, 0, 25);
        CFile f;
        ASSERT_TRUE(f.Open(path, CFile::modeRead));
        EXPECT_EQ(f.Read(buf, 100), 25u);
        EXPECT_EQ(f.Read(buf, 100), 0u);
        EXPECT_EQ(f.GetLength(), 100u);  // the file itself is whole
    }
}

TEST(CFileFaults, ImmediateFaultsOnEveryOperation) {
    ScratchDir dir;
    const std::string path = dir / "f";
    WriteFile(path, "data");
    char buf[4] = {};
    const struct { fault::Op op; int (*run)(const std::string&, char*); } cases[] = {
        {fault::Op::Open, [](const std::string& p, char*) { return OpenCause(p, CFile::modeReadWrite); }},
        {fault::Op::Read, [](const std::string& p, char* b) {
             CFile f;
             f.Open(p, CFile::modeReadWrite);
             return ThrownCause([&] { f.Read(b, 4); });
         }},
        {fault::Op::Write, [](const std::string& p, char* b) {
             CFile f;
             f.Open(p, CFile::modeReadWrite);
             return ThrownCause([&] { f.Write(b, 4); });
         }},
        {fault::Op::Seek, [](const std::string& p, char*) {
             CFile f;
             f.Open(p, CFile::modeReadWrite);
             return ThrownCause([&] { f.SeekToBegin(); });
         }},
        {fault::Op::Flush, [](const std::string& p, char*) {
             CFile f;
             f.Open(p, CFile::modeReadWrite);
             return ThrownCause([&] { f.Flush(); });
         }},
        {fault::Op::Close, [](const std::string& p, char*) {
             CFile f;
             f.Open(p, CFile::modeReadWrite);
             const int cause = ThrownCause([&] { f.Close(); });
             EXPECT_FALSE(f.IsOpen());  // the descriptor is released all the same
             return cause;
         }},
        {fault::Op::SetStatus, [](const std::string& p, char*) {
             CFileStatus s;
             CFile::GetStatus(p, s);
             return ThrownCause([&] { CFile::SetStatus(p, s); });
         }},
    };
    for (const auto& c : cases) {
        fault::ClearAll();
        fault::Inject(c.op, path, 7);
        EXPECT_EQ(c.run(path, buf), 7) << static_cast<int>(c.op);
        fault::ClearAll();
        EXPECT_EQ(c.run(path, buf), 0) << static_cast<int>(c.op);
    }
    fault::Inject(fault::Op::GetStatus, path);
    CFileStatus s;
    EXPECT_FALSE(CFile::GetStatus(path, s));
}

TEST(CFileFaults, CountLimitsHowOftenAFaultFires) {
    ScratchDir dir;
    const std::string path = dir / "f";
    WriteFile(path, "x");
    fault::Inject(fault::Op::Open, dir.path() + "/*", CFileException::tooManyOpenFiles, 0, 2);
    EXPECT_EQ(OpenCause(path, CFile::modeRead), 4);
    EXPECT_EQ(OpenCause(path, CFile::modeRead), 4);
    EXPECT_EQ(OpenCause(path, CFile::modeRead), 0);
}

TEST(CFileStatus, RoundTripWithNanosecondsAndReadOnly) {
    ScratchDir dir;
    const std::string path = dir / "f";
    WriteFile(path, "12345");
    CFileStatus in;
    in.m_mtimeSec = 1234567890;
    in.m_mtimeNsec = 123456789;
    in.m_atimeSec = 1000000000;
    in.m_atimeNsec = 987654321;
    in.m_mode = 0640;
    in.m_attribute = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY;
    CFile::SetStatus(path, in);

    CFileStatus out;
    ASSERT_TRUE(CFile::GetStatus(path, out));
    EXPECT_EQ(out.m_mtimeSec, in.m_mtimeSec);
    EXPECT_EQ(out.m_mtimeNsec, in.m_mtimeNsec);
    EXPECT_EQ(out.m_atimeSec, in.m_atimeSec);
    EXPECT_EQ(out.m_atimeNsec, in.m_atimeNsec);
    EXPECT_EQ(out.m_mode, 0440u);  // read-only clears every write bit
    EXPECT_EQ(out.m_attribute, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(out.m_size, 5u);
    EXPECT_EQ(OpenCause(path, CFile::modeWrite), CFileException::accessDenied);

    in.m_mode = 0440;
    in.m_attribute = FILE_ATTRIBUTE_ARCHIVE;
    CFile::SetStatus(path, in);
    ASSERT_TRUE(CFile::GetStatus(path, out));
    EXPECT_EQ(out.m_mode, 0640u);  // not read-only: the owner may write
    EXPECT_EQ(out.m_attribute, FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(out.m_mtimeNsec, in.m_mtimeNsec);

    EXPECT_EQ(ThrownCause([&] { CFile::SetStatus(dir / "missing", in); }), CFileException::fileNotFound);
    EXPECT_FALSE(CFile::GetStatus(dir / "missing", out));
}

}  // namespace
}  // namespace kelto
