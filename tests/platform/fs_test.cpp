#include "platform/fs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "platform/fault.h"
#include "platform/file.h"
#include "test_util.h"

namespace kelto {
namespace {

using test::Exists;
using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

TEST(MatchPattern, Table) {
    const struct { const char* pattern; const char* name; bool match; } cases[] = {
        {"*", "anything", true},
        {"*.*", "report.doc", true},
        {"*.*", "README", true},  // no dot: matched as "README."
        {"*.*", ".", true},
        {"*.*", "..", true},
        {"*.*", ".profile", true},
        {"*.txt", "a.txt", true},
        {"*.txt", "a.txt.cpy", false},
        {"*.cpy", "a.txt.cpy", true},
        {"a?c", "abc", true},
        {"a?c", "ac", false},
        {"a?c", "abbc", false},
        {"a?c", "a日c", true},  // "?" is one character, not one byte
        {"?", "日", true},
        {"?", "日本", false},
        {"日*", "日本語.txt", true},
        {"*本*", "日本語", true},
        {"a*b*c", "aXbYbZc", true},
        {"a*b*c", "aXbYbZ", false},
        {"report", "report", true},
        {"report", "Report", false},  // names are case-sensitive here
        {"report.*", "report", true},
        {"*.", "README", true},
        {"*.", "a.txt", false},
        {"", "", true},
        {"", "a", false},
    };
    for (const auto& c : cases) EXPECT_EQ(MatchPattern(c.pattern, c.name), c.match) << c.pattern << " ~ " << c.name;
}

class FindEntriesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::create_directory(dir));
        WriteFile(At("file.txt"), "12345");
        WriteFile(At(".hidden"), "");
        ASSERT_TRUE(std::filesystem::create_directory(At("sub")));
        ASSERT_EQ(::symlink((At("file.txt")).c_str(), (At("link")).c_str()), 0);
        ASSERT_EQ(::symlink((At("sub")).c_str(), (At("folderlink")).c_str()), 0);
        ASSERT_EQ(::mkfifo((At("fifo")).c_str(), 0600), 0);
    }

    std::map<std::string, FindEntry> ByName(const std::string& pattern) {
        std::map<std::string, FindEntry> m;
        for (FindEntry& e : FindEntries(pattern)) m[e.name] = e;
        return m;
    }

    std::string At(const std::string& name) const { return dir + "/" + name; }

    ScratchDir scratch;
    const std::string dir = scratch / "w";  // the scratch folder holds seam folders of its own
};

TEST_F(FindEntriesTest, ListsEveryKindWithoutFollowingLinks) {
    auto m = ByName(At("*.*"));
    const struct { const char* name; EntryKind kind; uint32_t attributes; } cases[] = {
        {"file.txt", EntryKind::File, FILE_ATTRIBUTE_ARCHIVE},
        {".hidden", EntryKind::File, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN},
        {"sub", EntryKind::Folder, FILE_ATTRIBUTE_DIRECTORY},
        {"link", EntryKind::Link, FILE_ATTRIBUTE_ARCHIVE},
        {"folderlink", EntryKind::Link, FILE_ATTRIBUTE_ARCHIVE},
        {"fifo", EntryKind::Other, FILE_ATTRIBUTE_ARCHIVE},
        {".", EntryKind::Folder, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN},
        {"..", EntryKind::Folder, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN},
    };
    EXPECT_EQ(m.size(), std::size(cases));
    for (const auto& c : cases) {
        ASSERT_TRUE(m.count(c.name)) << c.name;
        const FindEntry& e = m[c.name];
        EXPECT_EQ(e.kind, c.kind) << c.name;
        EXPECT_EQ(e.attributes, c.attributes) << c.name;
        EXPECT_EQ(e.path, At(c.name));
    }
    EXPECT_EQ(m["file.txt"].size, 5u);
    EXPECT_EQ(m["sub"].size, 0u);

    auto txt = ByName(At("*.txt"));
    ASSERT_EQ(txt.size(), 1u);
    EXPECT_EQ(txt.begin()->first, "file.txt");
}

TEST_F(FindEntriesTest, PathWithoutWildcardsFindsTheEntryItself) {
    const struct { std::string pattern; std::optional<EntryKind> kind; } cases[] = {
        {At("file.txt"), EntryKind::File},
        {At("sub"), EntryKind::Folder},
        {At("link"), EntryKind::Link},
        {At("folderlink"), EntryKind::Link},
        {At("fifo"), EntryKind::Other},
        {At("missing"), std::nullopt},
        {At("sub/"), std::nullopt},  // a trailing "/" finds nothing
        {"/", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto found = FindEntries(c.pattern);
        FindEntry first;
        EXPECT_EQ(FindFirstEntry(c.pattern, first), c.kind.has_value()) << c.pattern;
        if (!c.kind) {
            EXPECT_TRUE(found.empty()) << c.pattern;
            continue;
        }
        ASSERT_EQ(found.size(), 1u) << c.pattern;
        EXPECT_EQ(found[0].kind, *c.kind) << c.pattern;
        EXPECT_EQ(found[0].path, c.pattern);
        EXPECT_EQ(first.name, found[0].name);
    }
}

TEST_F(FindEntriesTest, RootPatternAndListFault) {
    bool sawTmp = false;
    for (const FindEntry& e : FindEntries("/*.*")) {
        EXPECT_EQ(e.path, "/" + e.name);
        sawTmp |= e.name == "tmp" || e.name == "usr";
    }
    EXPECT_TRUE(sawTmp);

    fault::Inject(fault::Op::ListDir, dir + "/*");
    EXPECT_TRUE(FindEntries(At("*.*")).empty());
    EXPECT_TRUE(FindEntries(At("file.txt")).empty());
}

TEST(Attributes, ReadAndWriteTheReadOnlyBit) {
    ScratchDir dir;
    WriteFile(dir / "f", "x");
    ::chmod((dir / "f").c_str(), 0664);
    EXPECT_EQ(GetFileAttributesOf(dir / "f"), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributesOf(dir.path()), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesOf(dir / "missing"), -1);

    ASSERT_TRUE(SetFileAttributesOf(dir / "f", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributesOf(dir / "f"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    struct stat st {};
    ::stat((dir / "f").c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    ASSERT_TRUE(SetFileAttributesOf(dir / "f", FILE_ATTRIBUTE_ARCHIVE));
    ::stat((dir / "f").c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0644u);

    fault::Inject(fault::Op::GetAttributes, dir / "f");
    fault::Inject(fault::Op::SetAttributes, dir / "f");
    EXPECT_EQ(GetFileAttributesOf(dir / "f"), -1);
    EXPECT_FALSE(SetFileAttributesOf(dir / "f", FILE_ATTRIBUTE_READONLY));
}

TEST(MoveFileNoReplace, NeverReplacesAndKeepsBothFiles) {
    ScratchDir dir;
    WriteFile(dir / "a", "source");
    WriteFile(dir / "b", "target");
    EXPECT_FALSE(MoveFileNoReplace(dir / "a", dir / "b"));
    EXPECT_EQ(ReadFile(dir / "a"), "source");
    EXPECT_EQ(ReadFile(dir / "b"), "target");

    EXPECT_TRUE(MoveFileNoReplace(dir / "a", dir / "c"));
    EXPECT_FALSE(Exists(dir / "a"));
    EXPECT_EQ(ReadFile(dir / "c"), "source");
    EXPECT_FALSE(MoveFileNoReplace(dir / "missing", dir / "d"));
}

TEST(MoveFileNoReplace, HeldFileAndFaultLeaveTheSource) {
    ScratchDir dir;
    WriteFile(dir / "a", "source");
    {
        CFile holder;
        ASSERT_TRUE(holder.Open(dir / "a", CFile::modeRead | CFile::shareExclusive));
        EXPECT_FALSE(MoveFileNoReplace(dir / "a", dir / "b"));
    }
    fault::Inject(fault::Op::Move, dir / "a", 5, 0, 1);
    EXPECT_FALSE(MoveFileNoReplace(dir / "a", dir / "b"));
    EXPECT_EQ(ReadFile(dir / "a"), "source");
    EXPECT_FALSE(Exists(dir / "b"));
    EXPECT_TRUE(MoveFileNoReplace(dir / "a", dir / "b"));
}

TEST(MoveFileNoReplace, AcrossFileSystemsCarriesTimesAndMode) {
    ScratchDir dir;
    struct stat sa {}, sb {};
    if (::stat("/dev/shm", &sb) != 0 || ::stat(dir.path().c_str(), &sa) != 0 || sa.st_dev == sb.st_dev)
        GTEST_SKIP() << "/dev/shm and the scratch folder share a file system";
    const std::string target = "/dev/shm/" + std::filesystem::path(dir.path()).filename().string() + "-moved";
    const std::string source = dir / "plain";
    WriteFile(source, std::string(300000, 'p'));
    CFileStatus st;
    st.m_mtimeSec = 1500000000;
    st.m_mtimeNsec = 42;
    st.m_atimeSec = 1500000001;
    st.m_atimeNsec = 43;
    st.m_mode = 0640;
    st.m_attribute = FILE_ATTRIBUTE_ARCHIVE;
    CFile::SetStatus(source, st);

    WriteFile(target, "taken");
    EXPECT_FALSE(MoveFileNoReplace(source, target));
    EXPECT_EQ(ReadFile(target), "taken");
    EXPECT_TRUE(Exists(source));
    ::unlink(target.c_str());

    ASSERT_TRUE(MoveFileNoReplace(source, target));
    EXPECT_FALSE(Exists(source));
    CFileStatus moved;
    ASSERT_TRUE(CFile::GetStatus(target, moved));
    EXPECT_EQ(moved.m_size, 300000u);
    EXPECT_EQ(moved.m_mtimeSec, st.m_mtimeSec);
    EXPECT_EQ(moved.m_mtimeNsec, st.m_mtimeNsec);
    EXPECT_EQ(moved.m_atimeSec, st.m_atimeSec);
    EXPECT_EQ(moved.m_mode, 0640u);
    EXPECT_EQ(ReadFile(target), std::string(300000, 'p'));
    ::unlink(target.c_str());
}

TEST(DeleteFilePath, FilesAndLinksButNeverFolders) {
    ScratchDir dir;
    WriteFile(dir / "f", "x");
    WriteFile(dir / "kept", "x");
    std::filesystem::create_directory(dir / "sub");
    ::symlink((dir / "kept").c_str(), (dir / "link").c_str());
    EXPECT_TRUE(DeleteFilePath(dir / "f"));
    EXPECT_FALSE(Exists(dir / "f"));
    EXPECT_TRUE(DeleteFilePath(dir / "link"));
    EXPECT_TRUE(Exists(dir / "kept"));
    EXPECT_FALSE(DeleteFilePath(dir / "sub"));
    EXPECT_TRUE(Exists(dir / "sub"));
    EXPECT_FALSE(DeleteFilePath(dir / "missing"));
    fault::Inject(fault::Op::Delete, dir / "kept");
    EXPECT_FALSE(DeleteFilePath(dir / "kept"));
    EXPECT_TRUE(Exists(dir / "kept"));
    EXPECT_TRUE(FlushFolderOf(dir / "kept"));
}

// Sets environment variables for the life of the object.
class EnvGuard {
public:
    void Set(const char* name, const std::string& value) {
        Save(name);
        ::setenv(name, value.c_str(), 1);
    }
    void Unset(const char* name) {
        Save(name);
        ::unsetenv(name);
    }
    ~EnvGuard() {
        for (auto& [name, value] : m_saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

private:
    void Save(const char* name) {
        if (m_saved.count(name)) return;
        const char* v = std::getenv(name);
        m_saved[name] = v ? std::optional<std::string>(v) : std::nullopt;
    }
    std::map<std::string, std::optional<std::string>> m_saved;
};

TEST(Folders, OverridesComeFirst) {
    ScratchDir dir;
    EXPECT_EQ(GetTempFolderPath(), dir / "tmp");
    EXPECT_EQ(GetDesktopFolderPath(), dir / "desktop");
    EXPECT_EQ(GetConfigHomePath(), dir / "config");
    fault::SetDesktopFolder("");
    EXPECT_EQ(GetDesktopFolderPath(), "");  // the platform cannot tell
}

TEST(Folders, TempFolderFromEnvironment) {
    ScratchDir dir;
    fault::ClearAll();
    EnvGuard env;
    const struct { std::optional<std::string> tmpdir; std::string expected; } cases[] = {
        {dir.path() + "/tmp", dir.path() + "/tmp"},
        {dir.path() + "/tmp//", dir.path() + "/tmp"},
        {dir.path() + "/missing", "/var/tmp"},
        {"relative", "/var/tmp"},
        {std::nullopt, "/var/tmp"},
    };
    for (const auto& c : cases) {
        if (c.tmpdir)
            env.Set("TMPDIR", *c.tmpdir);
        else
            env.Unset("TMPDIR");
        EXPECT_EQ(GetTempFolderPath(), c.expected) << c.tmpdir.value_or("(unset)");
    }
}

TEST(Folders, DesktopFromUserDirsOrHome) {
    ScratchDir dir;
    fault::ClearAll();
    EnvGuard env;
    const std::string home = dir / "home";
    env.Set("HOME", home);
    env.Set("XDG_CONFIG_HOME", dir / "config");
    const struct { const char* userDirs; std::string expected; } cases[] = {
        {nullptr, home + "/Desktop"},
        {"# comment\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n", home + "/Schreibtisch"},
        {"XDG_DESKTOP_DIR=\"$HOME/デスク トップ\"\nXDG_DOWNLOAD_DIR=\"$HOME/dl\"\n", home + "/デスク トップ"},
        {"XDG_DESKTOP_DIR=\"/abs/ignored\"\nXDG_DESKTOP_DIR=\"$HOME/later\"\n", home + "/later"},
        {"XDG_DESKTOP_DIR=\"relative\"\n", home + "/Desktop"},
        {"XDG_DESKTOP_DIR=\"$HOME/\"\n", home},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(dir / "config/user-dirs.dirs");
        if (c.userDirs) WriteFile(dir / "config/user-dirs.dirs", c.userDirs);
        EXPECT_EQ(GetDesktopFolderPath(), c.expected) << (c.userDirs ? c.userDirs : "(none)");
        struct stat st {};
        ASSERT_EQ(::stat(c.expected.c_str(), &st), 0) << c.expected;
        EXPECT_TRUE(S_ISDIR(st.st_mode));
    }
    struct stat st {};
    ::stat((home + "/Schreibtisch").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    env.Set("XDG_DATA_HOME", dir / "data");
    EXPECT_EQ(GetDataHomePath(), dir / "data");
    env.Unset("XDG_DATA_HOME");
    EXPECT_EQ(GetDataHomePath(), home + "/.local/share");
    env.Unset("XDG_CONFIG_HOME");
    EXPECT_EQ(GetConfigHomePath(), home + "/.config");
}

TEST(Folders, ModuleFileIsTheRunningProgram) {
    EXPECT_EQ(std::filesystem::path(GetModuleFilePath()).filename(), "kelto_tests");
}

bool FakeRemovable(unsigned major, unsigned minor, const std::string& source) {
    return (major == 8 && minor == 17) || (major == 0 && source == "/dev/sdc1");
}

TEST(DriveType, FromMountInfoText) {
    const std::string text =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "23 22 0:21 / /dev/shm rw,nosuid shared:2 - tmpfs tmpfs rw\n"
        "24 22 0:22 / /run/ram rw - ramfs none rw\n"
        "30 22 8:17 / /media/usb rw,nosuid shared:10 master:3 - vfat /dev/sdb1 rw\n"
        "31 22 0:55 / /media/ntfs rw - fuseblk /dev/sdc1 rw\n"
        "32 22 11:0 / /media/cd ro - iso9660 /dev/sr0 ro\n"
        "33 22 11:0 / /media/dvd ro - udf /dev/sr0 ro\n"
        "34 22 0:50 / /net/home rw - nfs4 server:/home rw\n"
        "35 22 0:51 / /net/share rw - cifs //server/share rw\n"
        "36 22 0:52 / /net/ssh rw - fuse.sshfs user@host: rw\n"
        "37 22 8:2 / /mnt/my\\040disk rw - ext4 /dev/sda2 rw\n"
        "38 22 0:23 / /mnt/a rw - tmpfs tmpfs rw\n"
        "39 22 8:3 / /srv rw - ext4 /dev/sda3 rw\n"
        "40 39 0:24 / /srv rw - tmpfs tmpfs rw\n"
        "41 22 0:5 / /proc rw - proc proc rw\n";
    const struct { const char* path; int type; } cases[] = {
        {"/home/user/file", DRIVE_FIXED},
        {"/", DRIVE_FIXED},
        {"/dev/shm/x", DRIVE_RAMDISK},
        {"/dev/shmx", DRIVE_FIXED},
        {"/run/ram", DRIVE_RAMDISK},
        {"/media/usb/a/b", DRIVE_REMOVABLE},
        {"/media/ntfs/doc", DRIVE_REMOVABLE},
        {"/media/cd/x", DRIVE_CDROM},
        {"/media/dvd", DRIVE_CDROM},
        {"/net/home/u", DRIVE_REMOTE},
        {"/net/share/u", DRIVE_REMOTE},
        {"/net/ssh/u", DRIVE_REMOTE},
        {"/mnt/my disk/f", DRIVE_FIXED},
        {"/mnt/a/f", DRIVE_RAMDISK},
        {"/mnt/ab/f", DRIVE_FIXED},  // a prefix of the name is no mount point
        {"/srv/f", DRIVE_RAMDISK},    // the later of stacked mounts is on top
        {"/proc/self", DRIVE_FIXED},
        {"relative", DRIVE_UNKNOWN},
    };
    for (const auto& c : cases) EXPECT_EQ(DriveTypeFromMountInfo(text, c.path, FakeRemovable), c.type) << c.path;
    EXPECT_EQ(DriveTypeFromMountInfo("", "/x", FakeRemovable), DRIVE_UNKNOWN);

    const auto mounts = ParseMountInfo(text);
    ASSERT_EQ(mounts.size(), 15u);
    EXPECT_EQ(mounts[10].mountPoint, "/mnt/my disk");
    EXPECT_EQ(mounts[3].major, 8u);
    EXPECT_EQ(mounts[3].minor, 17u);
    EXPECT_EQ(mounts[3].source, "/dev/sdb1");
}

TEST(DriveType, LiveSystemAndOverride) {
    ScratchDir dir;
    const int here = GetDriveTypeOf(dir.path());
    EXPECT_NE(here, DRIVE_UNKNOWN);
    EXPECT_EQ(GetDriveTypeOf(dir / "not/yet/there"), here);  // nearest existing ancestor
    fault::SetDriveType(dir / "usb", DRIVE_REMOVABLE);
    EXPECT_EQ(GetDriveTypeOf(dir / "usb/f"), DRIVE_REMOVABLE);
    EXPECT_EQ(GetDriveTypeOf(dir / "f"), here);
}

TEST(Random, KnownSequenceAndOneStatePerThread) {
    SeedRandom(1);
    EXPECT_EQ(DrawRandom(), 41);
    int other[3] = {};
    std::thread t([&] {
        SeedRandom(1);
        for (int& v : other) v = DrawRandom();
    });
    t.join();
    EXPECT_EQ(other[0], 41);
    EXPECT_EQ(other[1], 18467);
    EXPECT_EQ(other[2], 6334);
    EXPECT_EQ(DrawRandom(), 18467);  // this thread's state went on undisturbed
    EXPECT_EQ(DrawRandom(), 6334);
}

}  // namespace
}  // namespace kelto
