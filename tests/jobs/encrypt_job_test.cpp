#include <gtest/gtest.h>

#include "engine/file_helpers.h"
#include "jobs/job_fixture.h"
#include "jobs/jobs.h"

namespace kelto {
namespace {

using test::Exists;
using test::ReadFile;
using test::WriteFile;

class EncryptJobTest : public test::JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        source = drive + "/a.txt";
        data = Pattern(250003);
        WriteFile(source, data);
        SetMTime(source, 1000000000);
    }
    std::string source, data;
};

TEST_F(EncryptJobTest, DirectRouteCarriesNameTimesAndReadOnly) {
    struct Case {
        bool randomName, readOnly;
    };
    for (const Case& c : {Case{false, false}, Case{true, false}, Case{false, true}, Case{true, true}}) {
        SCOPED_TRACE(std::string(c.randomName ? "random" : "plain") + (c.readOnly ? " read-only" : ""));
        WriteFile(source, data);
        SetMTime(source, 1000000000);
        if (c.readOnly) SetFileAttributesOf(source, FILE_ATTRIBUTE_READONLY);
        AppSettings().RandomeName = c.randomName;
        worker.SetPhase(PHASE_IDLE);
        EXPECT_EQ(Encrypt(source), 1);
        EXPECT_EQ(worker.GetPhase(), PHASE_IDLE);
        EXPECT_TRUE(Problems().empty());
        EXPECT_FALSE(Exists(source));
        const std::vector<std::string> names = Names(drive);
        ASSERT_EQ(names.size(), 1u);
        const std::string cpy = drive + "/" + names[0];
        if (c.randomName) {
            EXPECT_EQ(names[0].size(), 13u + 4);
            EXPECT_EQ(names[0].substr(13), ".cpy");
        } else {
            EXPECT_EQ(names[0], "a.txt.cpy");
        }
        EXPECT_EQ(MTime(cpy), 1000000000);
        EXPECT_EQ(IsReadOnly(cpy), c.readOnly);

        EXPECT_EQ(Decrypt(cpy), 1);
        EXPECT_TRUE(Problems().empty());
        EXPECT_EQ(Names(drive), std::vector<std::string>{"a.txt"});
        EXPECT_TRUE(ReadFile(source) == data);
        EXPECT_EQ(MTime(source), 1000000000);
        EXPECT_EQ(IsReadOnly(source), c.readOnly);
        SetFileAttributesOf(source, 0);
    }
}

TEST_F(EncryptJobTest, TakenEncryptedNamesCountUp) {
    AppSettings().RandomeName = 0;
    WriteFile(drive + "/a.txt.cpy", "theirs");
    EXPECT_EQ(Encrypt(source), 1);
    EXPECT_TRUE(Exists(drive + "/a~0.txt.cpy"));
    WriteFile(source, data);
    EXPECT_EQ(Encrypt(source), 1);
    EXPECT_TRUE(Exists(drive + "/a~1.txt.cpy"));
    EXPECT_EQ(ReadFile(drive + "/a.txt.cpy"), "theirs");
    // Both decrypt back to the name stored inside.
    EXPECT_EQ(Decrypt(drive + "/a~1.txt.cpy"), 1);
    EXPECT_TRUE(ReadFile(source) == data);
}

TEST_F(EncryptJobTest, ReadOnlySourceWithoutWriteReadOnlyStays) {
    struct Case {
        int driveType;
        std::string text;
    };
    // Through the temporary folder the copy is encrypted, but the source
    // cannot be wiped, so the job is rolled back.
    const Case cases[] = {
        {DRIVE_FIXED, "ファイルを作成するのに失敗しました。"},
        {DRIVE_REMOVABLE, "リカバリーシステムが作動し以前の状態に変更されました。"},
    };
    AppSettings().WriteReadOnly = 0;
    AppSettings().RandomeName = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.driveType);
        UseDriveType(c.driveType);
        SetFileAttributesOf(source, FILE_ATTRIBUTE_READONLY);
        EXPECT_EQ(Encrypt(source), 0);
        EXPECT_EQ(Problems().back(), source + "|" + c.text);
        EXPECT_EQ(Names(drive), std::vector<std::string>{"a.txt"});
        EXPECT_TRUE(ReadFile(source) == data);
        EXPECT_TRUE(IsReadOnly(source));
        EXPECT_TRUE(Names(temp).empty());
        SetFileAttributesOf(source, 0);
    }
}

void RaiseStop(const std::string&, void* user) { static_cast<CCryptWorker*>(user)->m_stream.m_stopFlag = 1; }

TEST_F(EncryptJobTest, StopDuringTheCipherPassRemovesOnlyTheOutput) {
    for (int driveType : {DRIVE_FIXED, DRIVE_RAMDISK}) {
        SCOPED_TRACE(driveType);
        fault::ClearAll();
        fault::SetTempFolder(temp);
        fault::SetDesktopFolder(desk);
        UseDriveType(driveType);
        // The cipher pass reads the source (or its temporary copy).
        fault::OnOperation(fault::Op::Read, driveType == DRIVE_FIXED ? source : temp + "/*", RaiseStop, &worker);
        const size_t before = log.Problems().size();
        EXPECT_EQ(Encrypt(source), 0);
        const auto problems = log.Problems();
        ASSERT_EQ(problems.size(), before + 1);
        EXPECT_EQ(problems.back().caption, source);
        EXPECT_EQ(problems.back().text, "ファイルの暗号化を中止します。");
        EXPECT_EQ(Names(drive), std::vector<std::string>{"a.txt"});
        EXPECT_TRUE(ReadFile(source) == data);
        EXPECT_TRUE(Names(temp).empty());
    }
}

TEST_F(EncryptJobTest, DirectWipeFailureIsReportedUnderTheDestination) {
    AppSettings().RandomeName = 0;
    fault::Inject(fault::Op::Move, source);  // the wipe cannot rename it
    EXPECT_EQ(Encrypt(source), 0);
    EXPECT_EQ(Problems(), std::vector<std::string>{drive + "/a.txt.cpy|暗号化は成功しましたが復号化ファイルの削除に失敗しました。"});
    EXPECT_TRUE(ReadFile(source) == data);
    EXPECT_TRUE(Exists(drive + "/a.txt.cpy"));
}

TEST_F(EncryptJobTest, TemporaryRouteLeavesNothingBehind) {
    UseDriveType(DRIVE_REMOVABLE);
    AppSettings().RandomeName = 0;
    AppSettings().Rand = 1;
    EXPECT_EQ(Encrypt(source), 1);
    EXPECT_TRUE(Problems().empty());
    EXPECT_EQ(Names(drive), std::vector<std::string>{"a.txt.cpy"});
    EXPECT_TRUE(Names(temp).empty());
    EXPECT_EQ(MTime(drive + "/a.txt.cpy"), 1000000000);
    EXPECT_EQ(Decrypt(drive + "/a.txt.cpy"), 1);
    EXPECT_TRUE(Problems().empty());
    EXPECT_TRUE(ReadFile(source) == data);
    EXPECT_EQ(MTime(source), 1000000000);
    EXPECT_TRUE(Names(temp).empty());
}

// Hooks run just before the copy back to the drive opens the destination.
void RemoveTempPlain(const std::string&, void* user) {
    const std::string& t = *static_cast<std::string*>(user);
    for (const auto& e : std::filesystem::directory_iterator(t))
        if (e.path().extension() == ".tmppln") std::filesystem::remove(e.path());
}
void EmptyTemp(const std::string&, void* user) {
    const std::string& t = *static_cast<std::string*>(user);
    for (const auto& e : std::filesystem::directory_iterator(t)) std::filesystem::remove(e.path());
}

TEST_F(EncryptJobTest, RecoveryOutcomesOnTheTemporaryRoute) {
    const std::string copyBack = "暗号化は成功しましたが、暗号化テンポラリファイルの移動に失敗しました。";
    struct Case {
        const char* name;
        void (*hook)(const std::string&, void*);  // before the copy back; null: the wipe fails
        bool deskTaken;
        std::string savedAs;    // on the desktop; empty: nothing there
        std::string text;
    };
    const Case cases[] = {
        {"rolled back", nullptr, false, "", "リカバリーシステムが作動し以前の状態に変更されました。"},
        {"plaintext saved", nullptr, false, "a.txt",
         copyBack + " リカバリーシステムが作動し暗号化前のファイルがデスクトップ上に作成されました。"},
        {"plaintext saved beside a taken name", nullptr, true, "a~0.txt",
         copyBack + " リカバリーシステムが作動し暗号化前のファイルがデスクトップ上に作成されました。"},
        {"encrypted copy saved", RemoveTempPlain, false, "a.txt.cpy",
         copyBack + " リカバリーシステムが作動し暗号化ファイルがデスクトップ上に作成されました。"},
        {"nothing saved", EmptyTemp, false, "", copyBack + " リカバリーシステム作動に失敗しました。"},
    };
    AppSettings().RandomeName = 0;
    const std::string destination = drive + "/a.txt.cpy";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fault::ClearAll();
        fault::SetTempFolder(temp);
        fault::SetDesktopFolder(desk);
        UseDriveType(DRIVE_REMOVABLE);
        for (const auto& e : std::filesystem::directory_iterator(desk)) std::filesystem::remove(e.path());
        for (const auto& e : std::filesystem::directory_iterator(drive)) std::filesystem::remove(e.path());
        WriteFile(source, data);
        if (c.deskTaken) WriteFile(desk + "/a.txt", "theirs");
        const bool rollBack = std::string(c.name) == "rolled back";
        if (rollBack) {
            fault::Inject(fault::Op::Move, source);
        } else {
            if (c.hook) fault::OnOperation(fault::Op::Open, destination, c.hook, const_cast<std::string*>(&temp));
            fault::Inject(fault::Op::Open, destination);
        }
        const size_t before = log.Problems().size();
        EXPECT_EQ(Encrypt(source), 0);
        const auto problems = log.Problems();
        ASSERT_EQ(problems.size(), before + 1);
        EXPECT_EQ(problems.back().text, c.text);

        if (rollBack) {
            EXPECT_EQ(problems.back().caption, source);
            EXPECT_EQ(Names(drive), std::vector<std::string>{"a.txt"});
            EXPECT_TRUE(ReadFile(source) == data);
        } else {
            EXPECT_TRUE(Names(drive).empty());  // wiped source, no partial destination
        }
        if (!c.savedAs.empty()) {
            const std::string saved = desk + "/" + c.savedAs;
            EXPECT_EQ(problems.back().caption, saved);
            EXPECT_TRUE(Names(temp).empty());
            if (c.hook == RemoveTempPlain) {
                fault::ClearAll();
                EXPECT_EQ(Decrypt(saved), 1);
                EXPECT_TRUE(ReadFile(desk + "/a.txt") == data);
            } else {
                EXPECT_TRUE(ReadFile(saved) == data);
            }
            if (c.deskTaken) { EXPECT_EQ(ReadFile(desk + "/a.txt"), "theirs"); }
        } else if (!rollBack) {
            EXPECT_EQ(problems.back().caption.compare(0, temp.size(), temp), 0);
            EXPECT_EQ(problems.back().caption.substr(problems.back().caption.size() - 7), ".tmpcpy");
        } else {
            EXPECT_TRUE(Names(temp).empty());
            EXPECT_TRUE(Names(desk).empty());
        }
    }
}

}  // namespace
}  // namespace kelto
