#include <gtest/gtest.h>

#include "engine/file_helpers.h"
#include "jobs/job_fixture.h"
#include "jobs/jobs.h"

namespace kelto {
namespace {

using test::Exists;
using test::ReadFile;
using test::WriteFile;

class DecryptJobTest : public test::JobTest {
protected:
    void SetUp() override {
        JobTest::SetUp();
        AppSettings().RandomeName = 0;
        data = Pattern(250003);
        cpy = MakeCpy("a.txt");
    }
    // Encrypts drive/<name> (direct route) and returns the encrypted path.
    std::string MakeCpy(const std::string& name) {
        const std::string plain = drive + "/" + name;
        WriteFile(plain, data);
        SetMTime(plain, 1000000000);
        EXPECT_EQ(Encrypt(plain), 1);
        return plain + ".cpy";
    }
    std::string data, cpy;
};

TEST_F(DecryptJobTest, WrongPasswordLeavesTheSource) {
    worker.m_stream.SetKey("other");
    EXPECT_EQ(Decrypt(cpy), 0);
    EXPECT_EQ(Problems(), std::vector<std::string>{cpy + "|パスワードが間違っています。"});
    EXPECT_EQ(Names(drive), std::vector<std::string>{"a.txt.cpy"});
}

TEST_F(DecryptJobTest, NameClashFollowsTheSettings) {
    struct Case {
        bool overWrite, aliasWrite;
        int result;
        std::string problem;     // empty: none
        std::string decryptedAs;  // empty: nowhere
    };
    const std::string final = drive + "/a.txt";
    const Case cases[] = {
        {true, false, 1, "", "a.txt"},
        {true, true, 1, "", "a.txt"},
        {false, true, 1, "", "a~0.txt"},
        {false, false, 0, final + "|同名のファイルがあります。", ""},
    };
    for (int driveType : {DRIVE_FIXED, DRIVE_RAMDISK}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(driveType) + (c.overWrite ? " overwrite" : "") + (c.aliasWrite ? " alias" : ""));
            UseDriveType(driveType);
            for (const auto& e : std::filesystem::directory_iterator(drive)) std::filesystem::remove(e.path());
            const std::string source = MakeCpy("a.txt");
            WriteFile(final, "theirs");
            AppSettings().OverWrite = c.overWrite;
            AppSettings().AliasWrite = c.aliasWrite;
            const size_t before = Problems().size();
            EXPECT_EQ(Decrypt(source), c.result);
            const auto problems = Problems();
            if (c.problem.empty()) {
                EXPECT_EQ(problems.size(), before);
            } else {
                ASSERT_EQ(problems.size(), before + 1);
                EXPECT_EQ(problems.back(), c.problem);
            }
            EXPECT_TRUE(Names(temp).empty());
            if (c.decryptedAs.empty()) {
                EXPECT_EQ(Names(drive), (std::vector<std::string>{"a.txt", "a.txt.cpy"}));
                EXPECT_EQ(ReadFile(final), "theirs");
            } else {
                EXPECT_FALSE(Exists(source));
                EXPECT_TRUE(ReadFile(drive + "/" + c.decryptedAs) == data);
                EXPECT_EQ(MTime(drive + "/" + c.decryptedAs), 1000000000);
                if (c.decryptedAs != "a.txt") { EXPECT_EQ(ReadFile(final), "theirs"); }
                EXPECT_EQ(Names(drive).size(), c.decryptedAs == "a.txt" ? 1u : 2u);
            }
        }
    }
}

TEST_F(DecryptJobTest, AliasNeedsAnExtension) {
    const std::string source = MakeCpy("README");
    WriteFile(drive + "/README", "theirs");
    AppSettings().AliasWrite = 1;
    EXPECT_EQ(Decrypt(source), 0);
    EXPECT_EQ(Problems().back(), drive + "/README|別名保存時のエイリアス名を作成するのに失敗しました。");
    EXPECT_TRUE(Exists(source));
    EXPECT_EQ(ReadFile(drive + "/README"), "theirs");
}

TEST_F(DecryptJobTest, ReadOnlyEncryptedFile) {
    SetFileAttributesOf(cpy, FILE_ATTRIBUTE_READONLY);
    AppSettings().WriteReadOnly = 0;
    EXPECT_EQ(Decrypt(cpy), 0);
    EXPECT_EQ(Problems().back(), cpy + "|暗号化ファイルを開くのに失敗しました。");
    EXPECT_EQ(Names(drive), std::vector<std::string>{"a.txt.cpy"});

    AppSettings().WriteReadOnly = 1;
    EXPECT_EQ(Decrypt(cpy), 1);
    EXPECT_EQ(Names(drive), std::vector<std::string>{"a.txt"});
    EXPECT_TRUE(IsReadOnly(drive + "/a.txt"));
    EXPECT_EQ(MTime(drive + "/a.txt"), 1000000000);
    SetFileAttributesOf(drive + "/a.txt", 0);
}

TEST_F(DecryptJobTest, RenameFailureOnTheDirectRouteWipesTheTemporaryPlaintext) {
    fault::Inject(fault::Op::Move, drive + "/*", 5, 0, 1);  // only the rename to the final name
    EXPECT_EQ(Decrypt(cpy), 0);
    EXPECT_EQ(Problems().back(), drive + "/a.txt|テンポラリ名からファイル名を変更するのに失敗しました。");
    EXPECT_EQ(Names(drive), std::vector<std::string>{"a.txt.cpy"});
}

TEST_F(DecryptJobTest, CopyToTheDriveFailsAfterTheSourceWent) {
    UseDriveType(DRIVE_REMOVABLE);
    const std::string final = drive + "/a.txt";
    fault::Inject(fault::Op::Open, final);
    EXPECT_EQ(Decrypt(cpy), 0);
    EXPECT_EQ(Problems().back(), desk + "/a.txt|テンポラリパスからRAMディスクへの移動に失敗しました。 "
                                        "リカバリーシステムが作動しデスクトップ上に作成されました。");
    EXPECT_TRUE(ReadFile(desk + "/a.txt") == data);
    EXPECT_TRUE(Names(drive).empty());
    EXPECT_TRUE(Names(temp).empty());
}

}  // namespace
}  // namespace kelto
