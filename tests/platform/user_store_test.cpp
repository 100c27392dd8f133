#include "platform/user_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "test_util.h"

namespace kelto {
namespace {

constexpr const char* kKey = "Software\\Tessaron\\Kelto";

std::string AllBytes() {
    std::string s;
    for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
    return s;
}

StoreValue Val(int type, const std::string& data) {
    StoreValue v;
    v.type = type;
    v.data = data;
    return v;
}

bool Query(const std::string& keyPath, const std::string& name, StoreValue& v) {
    CUserStoreKey key;
    return key.Create(keyPath) && key.QueryValue(name, v);
}

TEST(UserStore, LivesInConfigHomeWithPrivateFolder) {
    test::ScratchDir dir;
    EXPECT_EQ(CUserStoreKey::StoreFilePath(), dir / "config/kelto/store");
    CUserStoreKey key;
    ASSERT_TRUE(key.Create(kKey));
    EXPECT_TRUE(test::Exists(dir / "config/kelto/store"));
    struct stat st;
    ASSERT_EQ(stat((dir / "config/kelto").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Config home itself missing: created too.
    fault::SetConfigHome(dir / "deep/er/config");
    CUserStoreKey other;
    EXPECT_TRUE(other.Create(kKey));
    EXPECT_TRUE(test::Exists(dir / "deep/er/config/kelto/store"));
}

TEST(UserStore, AnyBytesRoundTrip) {
    test::ScratchDir dir;
    const std::string all = AllBytes();
    struct Case {
        std::string name;
        StoreValue value;
    } cases[] = {
        {"Binary", Val(REG_BINARY, all)},
        {"String", Val(REG_SZ, all + all + std::string(1, '\0'))},
        {"Unterminated", Val(REG_SZ, "no NUL")},
        {"Expand", Val(REG_EXPAND_SZ, std::string("%PATH%\\x\0", 9))},
        {"Dword", Val(REG_DWORD, std::string("\x07\x00\xff\x80", 4))},
        {"ShortDword", Val(REG_DWORD, "ab")},
        {"Empty", Val(REG_BINARY, "")},
        {"EmptyString", Val(REG_SZ, std::string(1, '\0'))},
        {"OddType", Val(-7, "x")},
        {"", Val(REG_SZ, std::string("default\0", 8))},
        {"@", Val(REG_SZ, std::string("not the default\0", 16))},
        {all, Val(REG_SZ, std::string("name of every byte\0", 19))},
        {"日本語 = \"quoted\" [x] %41", Val(REG_SZ, std::string("テキスト\r\n\0", 15))},
        {"\xff\xfe broken \xe6\x9a", Val(REG_BINARY, "\xe6\x9a")},
    };
    const std::string keyPaths[] = {kKey, std::string(kKey) + "\\Zen", "Odd [\"%\x01\xff" + std::string("] key")};
    for (const std::string& kp : keyPaths) {
        CUserStoreKey key;
        ASSERT_TRUE(key.Create(kp));
        for (const Case& c : cases) ASSERT_TRUE(key.SetValue(c.name, c.value)) << c.name;
    }
    for (const std::string& kp : keyPaths) {
        for (const Case& c : cases) {
            StoreValue got;
            ASSERT_TRUE(Query(kp, c.name, got)) << c.name;
            EXPECT_EQ(got.type, c.value.type) << c.name;
            EXPECT_EQ(got.data, c.value.data) << c.name;
        }
    }
    // Readable: one value a line, no control bytes, the usual values as words.
    std::string text = test::ReadFile(CUserStoreKey::StoreFilePath());
    for (unsigned char c : text) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c != 0x7F));
    EXPECT_NE(text.find("[Software\\Tessaron\\Kelto]\n"), std::string::npos);
    EXPECT_NE(text.find("\"Dword\" = dword 2164195335\n"), std::string::npos);
    EXPECT_NE(text.find("@ = sz \"default\"\n"), std::string::npos);
}

TEST(UserStore, SetReplacesAndDeleteValueRemoves) {
    test::ScratchDir dir;
    CUserStoreKey key;
    ASSERT_TRUE(key.Create(kKey));
    ASSERT_TRUE(key.SetValue("A", Val(REG_SZ, std::string("1\0", 2))));
    ASSERT_TRUE(key.SetValue("A", Val(REG_DWORD, std::string(4, '\2'))));
    StoreValue v;
    ASSERT_TRUE(key.QueryValue("A", v));
    EXPECT_EQ(v.type, REG_DWORD);
    EXPECT_TRUE(key.DeleteValue("A"));
    EXPECT_FALSE(key.QueryValue("A", v));
    EXPECT_FALSE(key.DeleteValue("A"));
    key.Close();
    EXPECT_FALSE(key.QueryValue("A", v));
    EXPECT_FALSE(key.SetValue("A", v));
}

TEST(UserStore, DeleteKeyTakesSubkeysOnly) {
    test::ScratchDir dir;
    const char* paths[] = {"S\\K", "S\\K\\Zen", "S\\K\\Zen\\Deeper", "S\\KZen", "S"};
    for (const char* p : paths) {
        CUserStoreKey key;
        ASSERT_TRUE(key.Create(p));
        ASSERT_TRUE(key.SetValue("v", Val(REG_SZ, std::string(p) + '\0')));
    }
    EXPECT_TRUE(CUserStoreKey::DeleteKey("S\\K\\"));  // spelling of the path does not matter
    struct {
        const char* path;
        bool kept;
    } expect[] = {{"S\\K", false}, {"S\\K\\Zen", false}, {"S\\K\\Zen\\Deeper", false}, {"S\\KZen", true}, {"S", true}};
    for (const auto& e : expect) {
        StoreValue v;
        EXPECT_EQ(Query(e.path, "v", v), e.kept) << e.path;
    }
    EXPECT_FALSE(CUserStoreKey::DeleteKey(""));
}

TEST(UserStore, DamagedFileIsReadAroundAndNeverCrashes) {
    test::ScratchDir dir;
    std::filesystem::create_directories(dir / "config/kelto");
    const std::string path = dir / "config/kelto/store";
    test::WriteFile(path,
                    "\"Orphan\" = sz \"before any key\"\n"
                    "[Software\\Tessaron\\Kelto]\r\n"
                    "\"Good\" = dword 5\r\n"
                    "\"BadType\" = word 5\n"
                    "\"BadHex\" = binary hex:0g\n"
                    "\"BadEscape\" = sz \"%zz\"\n"
                    "\"Unclosed = sz \"x\"\n"
                    "\"TooBig\" = dword 4294967296\n"
                    "garbage line\n"
                    "[Broken\n"
                    "\"InBroken\" = dword 1\n"
                    "[Software\\Tessaron\\Kelto]\n"
                    "\"Later\" = sz \"ok\"   \n"
                    "\"Good\" = dword 6");  // no final line end; the later line wins
    struct {
        const char* name;
        bool present;
    } expect[] = {{"Good", true},     {"Later", true},   {"Orphan", false},  {"BadType", false},
                  {"BadHex", false},  {"BadEscape", false}, {"Unclosed", false}, {"TooBig", false},
                  {"InBroken", false}};
    CUserStoreKey key;
    ASSERT_TRUE(key.Create(kKey));
    for (const auto& e : expect) {
        StoreValue v;
        EXPECT_EQ(key.QueryValue(e.name, v), e.present) << e.name;
    }
    StoreValue v;
    ASSERT_TRUE(key.QueryValue("Good", v));
    EXPECT_EQ(v.data, std::string("\6\0\0\0", 4));
    ASSERT_TRUE(key.SetValue("New", Val(REG_BINARY, "x")));
    EXPECT_TRUE(key.QueryValue("Later", v));

    // Random bytes: whatever is read, nothing breaks and writes still work.
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        std::string junk;
        for (int i = 0; i < 400; ++i) junk += static_cast<char>(rng() % 4 ? "[]\"=@% \n\\hex:sz"[rng() % 16] : rng());
        test::WriteFile(path, junk);
        key.QueryValue("Good", v);
        ASSERT_TRUE(key.SetValue("After", Val(REG_SZ, std::string("z\0", 2))));
        ASSERT_TRUE(key.QueryValue("After", v));
    }
}

TEST(UserStore, FaultSeamFailsOpenAndWrite) {
    test::ScratchDir dir;
    const std::string path = CUserStoreKey::StoreFilePath();
    {
        fault::Inject(fault::Op::StoreOpen, path);
        CUserStoreKey key;
        EXPECT_FALSE(key.Create(kKey));
        EXPECT_FALSE(key.IsOpen());
        EXPECT_FALSE(test::Exists(path));
    }
    fault::ClearAll();
    fault::SetConfigHome(dir / "config");
    CUserStoreKey key;
    ASSERT_TRUE(key.Create(kKey));
    ASSERT_TRUE(key.SetValue("A", Val(REG_BINARY, "old")));
    const std::string before = test::ReadFile(path);
    fault::Inject(fault::Op::StoreWrite, path);
    EXPECT_FALSE(key.SetValue("A", Val(REG_BINARY, "new")));
    EXPECT_FALSE(key.DeleteValue("A"));
    EXPECT_FALSE(CUserStoreKey::DeleteKey(kKey));
    EXPECT_TRUE(key.Create(kKey));  // an existing key needs no write
    EXPECT_FALSE(CUserStoreKey().Create("Other"));
    EXPECT_EQ(test::ReadFile(path), before);

    // No config home to be had: no store.
    fault::SetConfigHome("");
    EXPECT_EQ(CUserStoreKey::StoreFilePath(), "");
    EXPECT_FALSE(CUserStoreKey().Create(kKey));
}

// Writers in parallel, each with values of its own: nothing is lost.
void WriteMany(const std::string& prefix, int count) {
    CUserStoreKey key;
    if (!key.Create(kKey)) return;
    for (int i = 0; i < count; ++i) key.SetValue(prefix + std::to_string(i), Val(REG_BINARY, prefix));
}

TEST(UserStore, ParallelWritersLoseNothing) {
    test::ScratchDir dir;
    constexpr int kWriters = 3, kValues = 15;
    for (bool processes : {false, true}) {
        std::vector<std::string> prefixes;
        for (int w = 0; w < kWriters; ++w) prefixes.push_back((processes ? "p" : "t") + std::to_string(w) + "_");
        if (processes) {
            std::vector<pid_t> children;
            for (const std::string& p : prefixes) {
                pid_t pid = fork();
                ASSERT_GE(pid, 0);
                if (pid == 0) {
                    WriteMany(p, kValues);
                    _exit(0);
                }
                children.push_back(pid);
            }
            for (pid_t pid : children) {
                int status = 0;
                ASSERT_EQ(waitpid(pid, &status, 0), pid);
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            }
        } else {
            std::vector<std::thread> threads;
            for (const std::string& p : prefixes) threads.emplace_back(WriteMany, p, kValues);
            for (auto& t : threads) t.join();
        }
        CUserStoreKey key;
        ASSERT_TRUE(key.Create(kKey));
        for (const std::string& p : prefixes) {
            for (int i = 0; i < kValues; ++i) {
                StoreValue v;
                ASSERT_TRUE(key.QueryValue(p + std::to_string(i), v)) << p << i;
                EXPECT_EQ(v.data, p);
            }
        }
    }
}

// A writer killed at any moment leaves the file of its last complete write.
// Child r writes "r:k" into V0, V1, ... in turn for k = 0, 1, ...; so what
// is read afterwards is (r, k) for a first run of values and, after it,
// (r, k - 1), or for k = 0 whatever the child before left.
TEST(UserStore, WriterKilledMidSaveLeavesOldOrNew) {
    test::ScratchDir dir;
    constexpr int kValues = 8;
    using Mark = std::pair<int, int>;
    auto name = [](int i) { return "V" + std::to_string(i); };
    auto text = [](Mark m) { return std::to_string(m.first) + ":" + std::to_string(m.second) + '\0'; };
    std::vector<Mark> last(kValues, Mark{-1, -1});
    {
        CUserStoreKey key;
        ASSERT_TRUE(key.Create(kKey));
        for (int i = 0; i < kValues; ++i) ASSERT_TRUE(key.SetValue(name(i), Val(REG_SZ, text(last[i]))));
    }
    std::mt19937 rng(12345);
    int interrupted = 0;
    for (int r = 0; r < 40; ++r) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            CUserStoreKey key;
            if (!key.Create(kKey)) _exit(1);
            for (int k = 0;; ++k)
                for (int i = 0; i < kValues; ++i) key.SetValue(name(i), Val(REG_SZ, text({r, k})));
        }
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 20000));
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status));

        CUserStoreKey key;
        ASSERT_TRUE(key.Create(kKey));
        std::vector<Mark> got;
        for (int i = 0; i < kValues; ++i) {
            StoreValue v;
            ASSERT_TRUE(key.QueryValue(name(i), v)) << "round " << r << ", value " << i;
            Mark m{-2, -2};
            ASSERT_EQ(std::sscanf(v.data.c_str(), "%d:%d", &m.first, &m.second), 2) << v.data;
            got.push_back(m);
        }
        if (got[0].first == r) {
            const Mark now = got[0];
            int j = 1;
            while (j < kValues && got[j] == now) ++j;
            if (j < kValues) ++interrupted;
            for (int i = j; i < kValues; ++i) {
                Mark older = now.second > 0 ? Mark{r, now.second - 1} : last[i];
                ASSERT_EQ(got[i], older) << "round " << r << ", value " << i;
            }
        } else {
            ASSERT_EQ(got, last) << "round " << r;  // killed before its first write
        }
        last = got;
    }
    EXPECT_GT(interrupted, 0);  // the kills did land between writes
}

}  // namespace
}  // namespace kelto
