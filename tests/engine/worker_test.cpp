#include <gtest/gtest.h>

#include <sys/stat.h>

#include <condition_variable>
#include <map>
#include <set>
#include <mutex>

#include "engine/collect.h"
#include "engine/file_helpers.h"
#include "jobs/job_fixture.h"

namespace kelto {
namespace {

using test::Exists;
using test::ReadFile;
using test::WriteFile;

class WorkerTest : public test::JobTest {
protected:
    // Collects the targets given and returns the work list as (name, action).
    std::vector<std::pair<std::string, int>> Collect(const std::vector<std::string>& targets) {
        for (const std::string& t : targets) {
            CryptItem item;
            item.path = t;
            worker.AddTarget(item);
        }
        EXPECT_EQ(CollectWorkItems(worker), 1);
        std::vector<std::pair<std::string, int>> out;
        CryptItem item;
        while (worker.TakeWorkItem(item)) out.emplace_back(item.path.substr(dir.path().size() + 1), item.action);
        return out;
    }
    std::vector<std::string> Infos() {
        std::vector<std::string> out;
        for (const auto& l : log.Lines())
            if (l.kind == LOG_KIND_INFO) out.push_back(l.text);
        return out;
    }
};

TEST_F(WorkerTest, WalkIsBreadthFirst) {
    std::filesystem::create_directories(dir / "t/sub/deeper");
    WriteFile(dir / "t/sub/deeper/f3", "3");
    WriteFile(dir / "t/sub/f2", "22");
    WriteFile(dir / "t/f1", "1");
    WriteFile(dir / "t/f0", "0");
    theApp().RunMode = ACTION_ENCRYPT;
    const auto items = Collect({dir / "t"});
    ASSERT_EQ(items.size(), 4u);
    std::vector<std::string> names;
    for (const auto& i : items) names.push_back(i.first);
    // The files of a level all come before those of the next.
    EXPECT_EQ(std::set<std::string>(names.begin(), names.begin() + 2), (std::set<std::string>{"t/f0", "t/f1"}));
    EXPECT_EQ(names[2], "t/sub/f2");
    EXPECT_EQ(names[3], "t/sub/deeper/f3");
    EXPECT_EQ(worker.m_bytesTotal, 5u);
}

TEST_F(WorkerTest, RunModeDecidesWhichFilesAndWhichWay) {
    std::filesystem::create_directories(dir / "m");
    for (const char* n : {"a.txt", "b.txt.cpy", "A.CPY"}) WriteFile(dir / ("m/" + std::string(n)), "x");
    WriteFile(dir / "prog", "me");
    theApp().ModulePath = dir / "prog";
    struct Case {
        int mode;
        std::map<std::string, int> expected;
    };
    const Case cases[] = {
        {ACTION_ENCRYPT, {{"m/a.txt", 1}}},
        {ACTION_DECRYPT, {{"m/b.txt.cpy", 2}, {"m/A.CPY", 2}}},
        {ACTION_NONE, {{"m/a.txt", 1}, {"m/b.txt.cpy", 2}, {"m/A.CPY", 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        theApp().RunMode = c.mode;
        std::map<std::string, int> got;
        for (const auto& i : Collect({dir / "m", dir / "prog"})) got.insert(i);
        EXPECT_EQ(got, c.expected);
    }
    EXPECT_EQ(DecideActionByName(".cpy"), ACTION_ENCRYPT);  // too short to be a name
}

TEST_F(WorkerTest, ProtectedFoldersAreRefused) {
    for (const char* f : {"sys", "win", "root"}) std::filesystem::create_directories(dir / f);
    WriteFile(dir / "sys/inside", "x");
    WriteFile(dir / "win/inside", "x");
    theApp().SystemDir = dir / "sys";
    theApp().WindowsDir = dir / "win";
    theApp().SystemRoot = dir / "root";
    theApp().RunMode = ACTION_ENCRYPT;
    // A file inside the System folder dropped by itself is taken.
    const auto items = Collect({dir / "sys", dir / "win", dir / "root", dir / "sys/inside"});
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].first, "sys/inside");
    EXPECT_EQ(Infos(), (std::vector<std::string>{"システムディレクトリ自体を暗号化することは出来ません。",
                                                 "ウインドウズディレクトリ自体を暗号化することは出来ません。",
                                                 "システムルートディレクトリ自体を暗号化することは出来ません。"}));
    struct Case {
        const char* path;
        int refused;
    };
    for (const Case& c : {Case{"/proc", 1}, Case{"/ETC", 1}, Case{"/var", 1}, Case{"/usr", 0}, Case{"/var/tmp", 0},
                          Case{"/home", 0}}) {
        EXPECT_EQ(IsProtectedFolder(c.path), c.refused) << c.path;
    }
}

TEST_F(WorkerTest, LinksAndSpecialFilesAreNeverWorkItems) {
    std::filesystem::create_directories(dir / "s/real");
    WriteFile(dir / "s/real/file", "x");
    WriteFile(dir / "outside", "x");
    std::filesystem::create_symlink(dir / "outside", dir / "s/link");
    std::filesystem::create_directory_symlink(dir / "s/real", dir / "s/dirlink");
    ASSERT_EQ(::mkfifo((dir / "s/fifo").c_str(), 0600), 0);
    theApp().RunMode = ACTION_ENCRYPT;
    const auto items = Collect({dir / "s", dir / "s/link", dir / "s/fifo"});
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].first, "s/real/file");
}

TEST_F(WorkerTest, ExtraWorkEstimate) {
    struct Case {
        int mode, driveType;
        bool zero, rand;
        uint64_t timesSize;
    };
    const Case cases[] = {
        {ACTION_ENCRYPT, DRIVE_REMOVABLE, true, true, 6}, {ACTION_ENCRYPT, DRIVE_FIXED, true, true, 2},
        {ACTION_ENCRYPT, DRIVE_RAMDISK, true, false, 4},  {ACTION_ENCRYPT, DRIVE_FIXED, false, false, 0},
        {ACTION_DECRYPT, DRIVE_REMOVABLE, true, true, 4}, {ACTION_DECRYPT, DRIVE_FIXED, true, true, 0},
    };
    WriteFile(drive + "/f.cpy", "0123456789");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + " " + std::to_string(c.driveType));
        UseDriveType(c.driveType);
        theApp().RunMode = c.mode;
        AppSettings().Zero = c.zero;
        AppSettings().Rand = c.rand;
        worker.m_extraTotal = 0;
        CryptItem target;
        target.path = c.mode == ACTION_ENCRYPT ? drive : drive + "/f.cpy";
        if (c.mode == ACTION_ENCRYPT) std::filesystem::rename(drive + "/f.cpy", drive + "/f.txt");
        worker.AddTarget(target);
        CollectWorkItems(worker);
        CryptItem item;
        ASSERT_TRUE(worker.TakeWorkItem(item));
        EXPECT_EQ(item.driveType, c.driveType);
        EXPECT_EQ(item.size, 10u);
        EXPECT_EQ(item.extraWork, c.timesSize * 10);
        EXPECT_EQ(worker.m_extraTotal, c.timesSize * 10);
        if (c.mode == ACTION_ENCRYPT) std::filesystem::rename(drive + "/f.txt", drive + "/f.cpy");
    }
}

TEST_F(WorkerTest, WholeRuns) {
    const std::string start = "暗号化-復号化を開始します", analysis = "問題があるファイルがあれば表示します。",
                      finish = "ファイルの暗号化-復号化は終了しました。";
    // Nothing to do.
    EXPECT_EQ(worker.PerformRun(), 1);
    EXPECT_EQ(Infos(), (std::vector<std::string>{start, analysis, finish}));

    WriteFile(drive + "/a", "aaaa");
    WriteFile(drive + "/b", "bbbbbbbbb");
    CryptItem target;
    target.path = drive;
    theApp().RunMode = ACTION_ENCRYPT;
    AppSettings().RandomeName = 0;
    worker.AddTarget(target);
    EXPECT_EQ(worker.PerformRun(), 1);
    EXPECT_TRUE(log.Problems().empty());
    EXPECT_EQ(Names(drive), (std::vector<std::string>{"a.cpy", "b.cpy"}));
    EXPECT_EQ(worker.GetTargetCount(), 0);
    uint64_t done, total;
    worker.GetBytesProgress(done, total);
    EXPECT_EQ(done, 13u);  // the items' sizes, not the encrypted bytes
    EXPECT_EQ(total, 13u);

    // A refusal of the encryptor breaks the run off; the rest stays queued.
    theApp().m_log.Clear();
    WriteFile(drive + "/c", "c");
    WriteFile(drive + "/d", "d");
    worker.m_password = "bad\nword";
    worker.AddTarget(target);
    EXPECT_EQ(worker.PerformRun(), 0);
    bool internal = false;
    for (const auto& p : log.Problems()) internal = internal || (p.caption.empty() && p.text == "内部エラー");
    EXPECT_TRUE(internal);
    EXPECT_EQ(worker.WorkItemCount(), 1u);
    EXPECT_TRUE(Exists(drive + "/c") && Exists(drive + "/d"));
    EXPECT_EQ(Infos().back(), finish);
}

void SignalStop(const std::string&, void* user) { static_cast<CCryptWorker*>(user)->m_evStop.Set(); }

TEST_F(WorkerTest, StopBetweenItemsEndsTheRun) {
    WriteFile(drive + "/a", "aaaa");
    WriteFile(drive + "/b", "bbbb");
    theApp().RunMode = ACTION_ENCRYPT;
    fault::OnOperation(fault::Op::Read, drive + "/*", SignalStop, &worker);
    CryptItem target;
    target.path = drive;
    worker.AddTarget(target);
    EXPECT_EQ(worker.PerformRun(), 0);
    EXPECT_EQ(worker.WorkItemCount(), 1u);  // the item in progress finished, the next never began
    EXPECT_EQ(Names(drive).size(), 2u);
    EXPECT_TRUE(log.Problems().empty());
}

TEST_F(WorkerTest, TargetQueueOperations) {
    CryptItem a, b, out;
    a.path = "/x/a";
    b.path = "/x/b";
    out.path = "unchanged";
    worker.AddTarget(a);
    EXPECT_EQ(worker.PeekSingleTarget(out), 1);
    EXPECT_EQ(out.path, "/x/a");
    worker.AddTarget(b);
    out.path = "unchanged";
    EXPECT_EQ(worker.PeekSingleTarget(out), 0);
    EXPECT_EQ(out.path, "unchanged");
    EXPECT_EQ(worker.GetTargetCount(), 2);
    worker.AppendWorkItem(a);
    worker.m_lastFailure = "x";
    worker.SetPhase(PHASE_COPY);
    worker.Reset();
    EXPECT_EQ(worker.GetTargetCount(), 0);
    EXPECT_EQ(worker.WorkItemCount(), 0u);
    EXPECT_TRUE(worker.m_lastFailure.empty());
    EXPECT_EQ(worker.GetPhase(), PHASE_IDLE);
}

class Notice : public IRunFinished {
public:
    void PostCryptFinished(int result) override {
        std::lock_guard<std::mutex> g(lock);
        results.push_back(result);
        changed.notify_all();
    }
    int WaitFor(size_t count) {
        std::unique_lock<std::mutex> g(lock);
        changed.wait(g, [&] { return results.size() >= count; });
        return results.back();
    }
    std::mutex lock;
    std::condition_variable changed;
    std::vector<int> results;
};

TEST_F(WorkerTest, ThreadConsumesAStopWhileIdle) {
    Notice notice;
    worker.SetFinishedNotice(&notice);
    worker.StartThread();
    WriteFile(drive + "/a", "aaaa");
    WriteFile(drive + "/b", "bbbb");
    CryptItem target;
    target.path = drive;
    worker.AddTarget(target);
    worker.RequestStop();
    worker.StartRun(ACTION_ENCRYPT);
    EXPECT_EQ(notice.WaitFor(1), 1);
    EXPECT_EQ(Names(drive).size(), 2u);
    for (const std::string& n : Names(drive)) EXPECT_EQ(n.substr(n.size() - 4), ".cpy");
    worker.RequestQuit();
    worker.JoinThread();
    worker.SetFinishedNotice(nullptr);
    EXPECT_EQ(notice.results.size(), 1u);
}

}  // namespace
}  // namespace kelto
