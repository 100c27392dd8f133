#include "engine/copy_wipe.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "engine/file_helpers.h"
#include "jobs/job_fixture.h"

namespace kelto {
namespace {

using test::Exists;
using test::ReadFile;
using test::WriteFile;

class CopyWipeTest : public test::JobTest {
protected:
    // What a hook saw: the phase at the time and how often it ran.
    struct Seen {
        explicit Seen(CCryptWorker* w) : worker(w) {}
        CCryptWorker* worker;
        int phase = -1;
        int calls = 0;
        std::string path, bytes;
    };
    static void NotePhase(const std::string& path, void* user) {
        auto* s = static_cast<Seen*>(user);
        s->phase = s->worker->GetPhase();
        ++s->calls;
        s->path = path;
    }
    // Reads the file just before it is deleted: what the wipe left in it.
    static void Capture(const std::string& path, void* user) {
        auto* s = static_cast<Seen*>(user);
        s->path = path;
        s->bytes = ReadFile(path);
        ++s->calls;
    }
};

TEST_F(CopyWipeTest, CopiesWholeFilesBlockByBlock) {
    struct Case {
        size_t size;
        int reads;
    };
    for (const Case& c : {Case{0, 0}, Case{100000, 1}, Case{250000, 3}}) {
        SCOPED_TRACE(c.size);
        const std::string src = dir / ("src" + std::to_string(c.size));
        const std::string dst = dir / ("dst" + std::to_string(c.size));
        const std::string data = Pattern(c.size);
        WriteFile(src, data);
        Seen reads(&worker), writes(&worker);
        fault::OnOperation(fault::Op::Read, src, NotePhase, &reads);
        fault::OnOperation(fault::Op::Write, dst, NotePhase, &writes);
        worker.SetPhase(PHASE_ENCRYPT);
        worker.m_itemExtra = 0;
        EXPECT_EQ(CopyFileWithProgress(worker, src, dst), 1);
        EXPECT_TRUE(ReadFile(dst) == data);
        EXPECT_EQ(reads.calls, c.reads);
        if (c.size) { EXPECT_EQ(writes.phase, PHASE_COPY); }
        EXPECT_EQ(worker.GetPhase(), PHASE_ENCRYPT);
        EXPECT_EQ(worker.m_itemExtra, c.size);
        struct stat st {};
        ASSERT_EQ(::stat(dst.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 077, 0u) << "a copy is the owner's only";
        fault::ClearAll();
        fault::SetTempFolder(temp);
        fault::SetDesktopFolder(desk);
    }
}

TEST_F(CopyWipeTest, CopyFailuresLeaveTheirTextAndRestoreThePhase) {
    const std::string src = dir / "src", dst = dir / "dst";
    WriteFile(src, Pattern(250000));
    struct Case {
        const char* name;
        void (*arrange)(const std::string& src, const std::string& dst);
        std::string failure;
    };
    const Case cases[] = {
        {"missing source", [](const std::string& s, const std::string&) { std::filesystem::rename(s, s + ".away"); },
         "コピー元ファイルのオープン失敗"},
        {"destination taken", [](const std::string&, const std::string& d) { WriteFile(d, "theirs"); },
         "コピー先ファイルのオープン失敗"},
        {"destination a link", [](const std::string& s, const std::string& d) {
             std::filesystem::create_symlink(s + ".target", d);
         }, "コピー先ファイルのオープン失敗"},
        {"source ends early", [](const std::string& s, const std::string&) {
             fault::Inject(fault::Op::ReadEof, s, 0, 100000);
         }, "コピー元ファイルが途中で終わりました"},
        {"write fails", [](const std::string&, const std::string& d) { fault::Inject(fault::Op::Write, d, 13, 100000); },
         "ディスク 容量不足"},
        {"read fails", [](const std::string& s, const std::string&) { fault::Inject(fault::Op::Read, s, 10); },
         "ハードウェア エラー"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange(src, dst);
        worker.SetPhase(PHASE_DECRYPT);
        worker.m_lastFailure = "earlier";
        EXPECT_EQ(CopyFileWithProgress(worker, src, dst), 0);
        EXPECT_EQ(worker.m_lastFailure, c.failure);
        EXPECT_EQ(worker.GetPhase(), PHASE_DECRYPT);
        if (std::string(c.name) == "destination taken") { EXPECT_EQ(ReadFile(dst), "theirs"); }
        if (std::string(c.name) == "destination a link") { EXPECT_FALSE(Exists(src + ".target")); }
        // Put the world back for the next case.
        fault::ClearAll();
        fault::SetTempFolder(temp);
        fault::SetDesktopFolder(desk);
        std::error_code ec;
        if (Exists(src + ".away")) std::filesystem::rename(src + ".away", src);
        std::filesystem::remove(dst, ec);
    }
}

TEST_F(CopyWipeTest, StopRequestIsSeenOncePastAThousandBlocks) {
    const std::string src = dir / "src", dst = dir / "dst";
    WriteFile(src, Pattern(250000));
    worker.m_evStop.Set();
    // Below the threshold the request waits.
    g_pollCount = 0;
    EXPECT_EQ(CopyFileWithProgress(worker, src, dst), 1);
    std::filesystem::remove(dst);
    g_pollCount = 1001;
    EXPECT_EQ(CopyFileWithProgress(worker, src, dst), 0);
    EXPECT_EQ(worker.m_lastFailure, "手動中止");
    EXPECT_EQ(g_pollCount, 0);
    // Consumed here, it still counts for the run.
    EXPECT_TRUE(worker.IsStopSignalled());
}

TEST_F(CopyWipeTest, WipeOverwritesEveryByteThenDeletes) {
    struct Case {
        size_t size;
        bool zero, rand;
    };
    const Case cases[] = {
        {0, true, true}, {100000, true, false}, {250000, true, false},
        {250000, false, true}, {250000, true, true}, {250000, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + (c.zero ? " zero" : "") + (c.rand ? " rand" : ""));
        fault::ClearAll();
        fault::SetTempFolder(temp);
        fault::SetDesktopFolder(desk);
        AppSettings().Zero = c.zero;
        AppSettings().Rand = c.rand;
        const std::string victim = dir / "victim.txt";
        const std::string data = Pattern(c.size);
        WriteFile(victim, data);
        Seen deleted(&worker), writes(&worker);
        fault::OnOperation(fault::Op::Delete, dir.path() + "/*", Capture, &deleted);
        fault::OnOperation(fault::Op::Write, dir.path() + "/*", NotePhase, &writes);
        worker.m_itemExtra = 0;
        worker.SetPhase(PHASE_ENCRYPT);
        EXPECT_NE(WipeFile(worker, victim), 0);
        EXPECT_EQ(worker.GetPhase(), PHASE_ENCRYPT);
        EXPECT_FALSE(Exists(victim));
        EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"config", "desktop", "tmp", "vol"}));

        // Deleted under a random 13-character name, with its length kept.
        ASSERT_EQ(deleted.calls, 1);
        EXPECT_EQ(FileNamePartOf(deleted.path).size(), 13u);
        ASSERT_EQ(deleted.bytes.size(), c.size);
        const int passes = (c.zero ? 1 : 0) + (c.rand ? 1 : 0);
        EXPECT_EQ(worker.m_itemExtra, passes * c.size);
        if (c.size && passes) { EXPECT_EQ(writes.phase, PHASE_WIPE); }
        if (c.size == 0) continue;
        if (!passes) {
            EXPECT_TRUE(deleted.bytes == data);
        } else if (!c.rand) {
            EXPECT_EQ(deleted.bytes, std::string(c.size, '\0'));
        } else {
            // The random block is written again and again over the file.
            EXPECT_NE(deleted.bytes, data);
            EXPECT_NE(deleted.bytes, std::string(c.size, '\0'));
            EXPECT_EQ(deleted.bytes.substr(0, 50000), deleted.bytes.substr(100000, 50000));
            EXPECT_EQ(deleted.bytes.substr(200000), deleted.bytes.substr(0, 50000));
        }
    }
}

TEST_F(CopyWipeTest, WipeFailuresLeaveTheFile) {
    AppSettings().Zero = 1;
    const std::string victim = dir / "vol/victim.txt";
    const std::string data = Pattern(250000);

    // The rename fails: untouched, and the failure text is the caller's.
    WriteFile(victim, data);
    fault::Inject(fault::Op::Move, victim);
    worker.m_lastFailure = "earlier";
    EXPECT_EQ(WipeFile(worker, victim), 0);
    EXPECT_TRUE(ReadFile(victim) == data);
    EXPECT_EQ(worker.m_lastFailure, "earlier");
    fault::ClearAll();

    // Another open holds it: whole, under its own name.
    {
        CFile holder;
        ASSERT_TRUE(holder.Open(victim, CFile::modeRead | CFile::shareExclusive));
        worker.SetPhase(PHASE_ENCRYPT);
        EXPECT_EQ(WipeFile(worker, victim), 0);
        EXPECT_EQ(worker.GetPhase(), PHASE_ENCRYPT);
    }
    EXPECT_TRUE(ReadFile(victim) == data);
    EXPECT_EQ(Names(drive), std::vector<std::string>{"victim.txt"});

    // A read-only file is never deleted unwiped: it stays as it is.
    SetFileAttributesOf(victim, FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(WipeFile(worker, victim), 0);
    EXPECT_EQ(worker.m_lastFailure, "ファイル アクセス禁止");
    EXPECT_TRUE(ReadFile(victim) == data);
    EXPECT_EQ(Names(drive), std::vector<std::string>{"victim.txt"});
    SetFileAttributesOf(victim, 0);

    // A write error part way: the text of its cause, the file kept under its
    // random name as far as it was overwritten.
    fault::Inject(fault::Op::Write, drive + "/*", 10, 100000);
    EXPECT_EQ(WipeFile(worker, victim), 0);
    EXPECT_EQ(worker.m_lastFailure, "ハードウェア エラー");
    EXPECT_EQ(worker.GetPhase(), PHASE_ENCRYPT);
    std::vector<std::string> left = Names(drive);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].size(), 13u);
    const std::string rest = ReadFile(drive + "/" + left[0]);
    EXPECT_EQ(rest.size(), data.size());
    EXPECT_EQ(rest.substr(0, 100000), std::string(100000, '\0'));
    EXPECT_EQ(rest.substr(100000), data.substr(100000));
    fault::ClearAll();
    std::filesystem::remove(drive + "/" + left[0]);

    // A stop request past the threshold.
    WriteFile(victim, data);
    worker.m_evStop.Set();
    g_pollCount = 1001;
    EXPECT_EQ(WipeFile(worker, victim), 0);
    EXPECT_EQ(worker.m_lastFailure, "手動中止");
    left = Names(drive);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_NE(left[0], "victim.txt");
}

}  // namespace
}  // namespace kelto
