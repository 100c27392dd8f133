// kelto-cli run as a separate process in a scratch folder, with its config,
// temp and home folders pointed into it.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/user_store.h"
#include "test_util.h"

namespace kelto::test {
namespace {

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(KELTO_CLI_PATH).empty()) GTEST_SKIP() << "kelto-cli is not built";
        std::filesystem::create_directories(m_dir / "home");
        std::filesystem::create_directories(m_dir / "work");
        WritePassword("pw1", "first secret\n");
        WritePassword("pw2", "second secret\r\n");
    }

    std::string Work(const std::string& name) const { return m_dir / ("work/" + name); }
    void WritePassword(const std::string& name, const std::string& text) { WriteFile(m_dir / name, text); }

    // Runs kelto-cli in work/ with `args` (already quoted where needed) and
    // standard input from `input` (no terminal).
    CliResult Run(const std::string& args, const std::string& input = "") {
        WriteFile(m_dir / "stdin", input);
        const std::string cmd = "cd '" + Work("") + "' && XDG_CONFIG_HOME='" + (m_dir / "config") +
                                "' TMPDIR='" + (m_dir / "tmp") + "' HOME='" + (m_dir / "home") + "' '" +
                                KELTO_CLI_PATH + "' " + args + " <'" + (m_dir / "stdin") + "' >'" +
                                (m_dir / "out") + "' 2>'" + (m_dir / "err") + "'";
        int raw = std::system(cmd.c_str());
        CliResult r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = ReadFile(m_dir / "out");
        r.err = ReadFile(m_dir / "err");
        return r;
    }
    std::string Pw(const std::string& name) const { return "--password-file '" + (m_dir / name) + "'"; }

    std::vector<std::string> FilesUnder(const std::string& folder) const {
        std::vector<std::string> names;
        for (auto& e : std::filesystem::recursive_directory_iterator(folder))
            if (e.is_regular_file()) names.push_back(std::filesystem::relative(e.path(), folder).string());
        std::sort(names.begin(), names.end());
        return names;
    }

    ScratchDir m_dir;
};

TEST_F(CliTest, FolderRoundTripRestoresEveryByte) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"data/empty.txt", ""},
        {"data/small.txt", "hello"},
        {"data/sub/big.bin", std::string(1536 * 1024 + 7, '\x5a')},
        {"data/sub/深い/名前.txt", "日本語"},
    };
    for (auto& [name, body] : files) {
        std::filesystem::create_directories(std::filesystem::path(Work(name)).parent_path());
        WriteFile(Work(name), body);
    }

    CliResult enc = Run("encrypt " + Pw("pw1") + " data/");
    ASSERT_EQ(enc.status, 0) << enc.err;
    EXPECT_NE(enc.out.find("ファイルが挿入されました。 " + Work("data")), std::string::npos) << enc.out;
    EXPECT_EQ(enc.err, "");
    for (const std::string& f : FilesUnder(Work("data")))
        EXPECT_EQ(std::filesystem::path(f).extension(), ".cpy") << f;
    EXPECT_EQ(FilesUnder(Work("data")).size(), files.size());

    CliResult dec = Run("decrypt " + Pw("pw1") + " data");
    ASSERT_EQ(dec.status, 0) << dec.err;
    EXPECT_EQ(FilesUnder(Work("data")).size(), files.size());
    for (auto& [name, body] : files) EXPECT_EQ(ReadFile(Work(name)), body) << name;
}

TEST_F(CliTest, WrongPasswordOnDecryptFails) {
    WriteFile(Work("a.txt"), "plain");
    ASSERT_EQ(Run("encrypt --no-random-name " + Pw("pw1") + " a.txt").status, 0);
    ASSERT_TRUE(Exists(Work("a.txt.cpy")));

    CliResult dec = Run("decrypt " + Pw("pw2") + " a.txt.cpy");
    EXPECT_EQ(dec.status, 1);
    EXPECT_NE(dec.err.find("problem: パスワードが間違っています。"), std::string::npos) << dec.err;
    EXPECT_TRUE(Exists(Work("a.txt.cpy")));
    EXPECT_FALSE(Exists(Work("a.txt")));
}

TEST_F(CliTest, MissingPathIsReportedAndFailsTheRun) {
    WriteFile(Work("a.txt"), "plain");
    CliResult r = Run("encrypt --no-random-name " + Pw("pw1") + " nothere a.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("kelto-cli: nothere: no such file or folder"), std::string::npos) << r.err;
    EXPECT_TRUE(Exists(Work("a.txt.cpy")));  // the other paths are still worked on

    EXPECT_EQ(Run("decrypt " + Pw("pw1") + " nothere").status, 1);
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
    WriteFile(Work("a.txt"), "plain");
    const struct {
        const char* args;
        const char* why;
    } cases[] = {
        {"", "no subcommand"},
        {"encrypt --password-stdin", "no path"},
        {"encrypt --password-stdin --frobnicate a.txt", "unknown option"},
        {"encrypt a.txt", "no password source and no terminal"},
        {"decrypt --on-clash=maybe --password-stdin a.txt", "bad choice"},
        {"encrypt --zero --no-zero --password-stdin a.txt", "contradicting switches"},
    };
    for (const auto& c : cases) {
        CliResult r = Run(c.args, "pw\n");
        EXPECT_EQ(r.status, 2) << c.why << ": " << r.err;
        EXPECT_EQ(ReadFile(Work("a.txt")), "plain") << c.why;
    }
}

TEST_F(CliTest, PasswordFromStdinAndSingleCpyGoesBackInAutoMode) {
    WriteFile(Work("a.txt"), "plain");
    ASSERT_EQ(Run("auto --no-random-name --password-stdin a.txt", "stdin pw\n").status, 0);
    ASSERT_TRUE(Exists(Work("a.txt.cpy")));
    // A different password in auto mode on a single .cpy: decrypted, no digest question.
    CliResult r = Run("auto --password-stdin a.txt.cpy", "stdin pw\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(Work("a.txt")), "plain");
}

TEST_F(CliTest, TakenNameGetsAnAliasOnRequest) {
    WriteFile(Work("a.txt"), "original");
    ASSERT_EQ(Run("encrypt --no-random-name " + Pw("pw1") + " a.txt").status, 0);
    WriteFile(Work("a.txt"), "newcomer");

    CliResult r = Run("decrypt --on-clash=alias " + Pw("pw1") + " a.txt.cpy");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(Work("a.txt")), "newcomer");
    EXPECT_EQ(ReadFile(Work("a~0.txt")), "original");
}

TEST_F(CliTest, DifferentPasswordWithoutTerminalNeedsYes) {
    WriteFile(Work("a.txt"), "one");
    WriteFile(Work("b.txt"), "two");
    ASSERT_EQ(Run("encrypt --no-random-name " + Pw("pw1") + " a.txt").status, 0);

    CliResult refused = Run("encrypt --no-random-name " + Pw("pw2") + " b.txt");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("前回と違うパスワードです、暗号化を行いますか？"), std::string::npos) << refused.err;
    EXPECT_EQ(ReadFile(Work("b.txt")), "two");

    ASSERT_EQ(Run("encrypt --yes --no-random-name " + Pw("pw2") + " b.txt").status, 0);
    EXPECT_TRUE(Exists(Work("b.txt.cpy")));
    // pw2 is now the previous password: pw1 is the one that needs --yes.
    WriteFile(Work("c.txt"), "three");
    EXPECT_EQ(Run("encrypt --no-random-name " + Pw("pw2") + " c.txt").status, 0);
    EXPECT_EQ(Run("encrypt --no-random-name " + Pw("pw1") + " b.txt.cpy c.txt.cpy").status, 1);
}

TEST_F(CliTest, OverridesLeaveTheStoredOptionsAlone) {
    auto dword = [](uint32_t v) {
        StoreValue s;
        s.type = REG_DWORD;
        for (int i = 0; i < 4; ++i) s.data += static_cast<char>((v >> (8 * i)) & 0xFF);
        return s;
    };
    const std::vector<std::pair<std::string, uint32_t>> stored = {
        {"Zero", 0}, {"Rand", 1}, {"RandomeName", 0}, {"WriteReadOnly", 0},
        {"RamTemp", 0}, {"AliasWrite", 1}, {"OverWrite", 0}, {"HashCheck", 0},
    };
    {
        CUserStoreKey key;
        ASSERT_TRUE(key.Create("Software\\Tessaron\\Kelto"));
        for (auto& [name, v] : stored) ASSERT_TRUE(key.SetValue(name, dword(v)));
    }
    WriteFile(Work("a.txt"), "plain");
    CliResult r = Run("encrypt --zero --no-rand --random-name --read-only --ram-temp --on-clash=overwrite " +
                      Pw("pw1") + " a.txt");
    ASSERT_EQ(r.status, 0) << r.err;
    // --random-name took effect for this run only.
    EXPECT_FALSE(Exists(Work("a.txt.cpy")));
    ASSERT_EQ(FilesUnder(Work("")).size(), 1u);

    CUserStoreKey key;
    ASSERT_TRUE(key.Create("Software\\Tessaron\\Kelto"));
    for (auto& [name, v] : stored) {
        StoreValue got;
        ASSERT_TRUE(key.QueryValue(name, got)) << name;
        EXPECT_EQ(got.data, dword(v).data) << name;
    }
    StoreValue hash;
    EXPECT_FALSE(key.QueryValue("HashValue", hash)) << "HashCheck off stores no digest";
}

}  // namespace
}  // namespace kelto::test
