#include "app/main_app.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_util.h"
#include "app/text_table.h"
#include "platform/user_store.h"

namespace kelto {
namespace {

using Flag = uint32_t Settings::*;

struct FlagInfo {
    const char* name;
    Flag field;
    uint32_t defaultValue;
};

// Stored names in their stored order, with their defaults.
const FlagInfo kFlags[] = {
    {"Zero", &Settings::Zero, 1},           {"Rand", &Settings::Rand, 0},
    {"Confirm", &Settings::Confirm, 1},     {"PasswordMask", &Settings::PasswordMask, 1},
    {"WriteReadOnly", &Settings::WriteReadOnly, 1}, {"AutoExit", &Settings::AutoExit, 0},
    {"HashCheck", &Settings::HashCheck, 1}, {"RandomeName", &Settings::RandomeName, 1},
    {"AlwayExit", &Settings::AlwayExit, 0}, {"UsePassword", &Settings::UsePassword, 0},
    {"ShellExcute", &Settings::ShellExcute, 1}, {"AliasWrite", &Settings::AliasWrite, 0},
    {"OverWrite", &Settings::OverWrite, 0}, {"RamTemp", &Settings::RamTemp, 1},
};

constexpr const char* kKey = "Software\\Tessaron\\Kelto";

// A private application object; theApp() is left alone.
class SettingsTest : public ::testing::Test {
protected:
    test::ScratchDir dir;
    CMainApp app;

    void Store(const std::string& name, int type, const std::string& data) {
        CUserStoreKey key;
        ASSERT_TRUE(key.Create(kKey));
        StoreValue v;
        v.type = type;
        v.data = data;
        ASSERT_TRUE(key.SetValue(name, v));
    }
    bool Stored(const std::string& name, StoreValue& v) {
        CUserStoreKey key;
        return key.Create(kKey) && key.QueryValue(name, v);
    }
};

TEST_F(SettingsTest, DefaultsAndReset) {
    for (const FlagInfo& f : kFlags) app.m_settings.*f.field = 99;
    app.m_settings.HashValue = "abc";
    app.AutoStart = 1;
    app.SingleFileJob = 1;
    app.RunMode = 2;
    app.m_log.Add("", "queued", LOG_KIND_INFO);
    app.SetDefaultSettings();
    for (const FlagInfo& f : kFlags) EXPECT_EQ(app.m_settings.*f.field, f.defaultValue) << f.name;
    EXPECT_EQ(app.m_settings.HashValue, std::string(20, '\0'));
    EXPECT_EQ(app.AutoStart, 0);
    EXPECT_EQ(app.SingleFileJob, 0);
    EXPECT_EQ(app.RunMode, 2);  // not a setting
    EXPECT_EQ(app.m_log.Count(), 0u);
}

TEST_F(SettingsTest, SaveLoadRoundTrip) {
    uint32_t n = 2;
    for (const FlagInfo& f : kFlags) app.m_settings.*f.field = n++ * 0x01010101u;  // every byte counts
    std::string hash;
    for (int i = 0; i < 20; ++i) hash += static_cast<char>(0xF0 + i);
    app.m_settings.HashValue = hash;
    app.ExchangeSettings(true);

    CMainApp other;
    other.SetDefaultSettings();
    other.ExchangeSettings(false);
    for (const FlagInfo& f : kFlags) EXPECT_EQ(other.m_settings.*f.field, app.m_settings.*f.field) << f.name;
    EXPECT_EQ(other.m_settings.HashValue, hash);

    // Types and sizes as stored, and the stored order.
    StoreValue v;
    ASSERT_TRUE(Stored("", v));
    EXPECT_EQ(v.type, REG_SZ);
    EXPECT_EQ(v.data, GetText("used") + '\0');
    ASSERT_TRUE(Stored("Zero", v));
    EXPECT_EQ(v.type, REG_DWORD);
    EXPECT_EQ(v.data, "\x02\x02\x02\x02");
    ASSERT_TRUE(Stored("HashValue", v));
    EXPECT_EQ(v.type, REG_BINARY);
    EXPECT_EQ(v.data, hash);
    const std::string file = test::ReadFile(CUserStoreKey::StoreFilePath());
    std::vector<std::string> order = {"@ ="};
    for (const FlagInfo& f : kFlags) {
        order.push_back(std::string("\"") + f.name + "\" =");
        if (std::string(f.name) == "HashCheck") order.push_back("\"HashValue\" =");
    }
    size_t last = 0;
    for (const std::string& o : order) {
        size_t at = file.find(o);
        ASSERT_NE(at, std::string::npos) << o;
        EXPECT_GT(at, last) << o;
        last = at;
    }
}

TEST_F(SettingsTest, StoredFlagValues) {
    struct {
        int type;
        std::string data;
        uint32_t confirm;  // default 1
        uint32_t rand;     // default 0
    } cases[] = {
        {REG_DWORD, std::string("\0\0\0\0", 4), 0, 0},
        {REG_DWORD, std::string("\7\0\0\0", 4), 7, 7},          // on, as any non-zero value
        {REG_BINARY, std::string("\0\0\0\1", 4), 0x01000000, 0x01000000},  // the type is not tested
        {REG_DWORD, std::string("\0\0\0\0\0", 5), 1, 0},        // does not fit: default stays
        {REG_DWORD, std::string("\0", 1), 0, 0},                // fewer bytes go into the low end
        {REG_DWORD, std::string("\2", 1), 2, 2},
        {REG_DWORD, "", 1, 0},
    };
    for (const auto& c : cases) {
        Store("Confirm", c.type, c.data);
        Store("Rand", c.type, c.data);
        app.SetDefaultSettings();
        app.ExchangeSettings(false);
        EXPECT_EQ(app.m_settings.Confirm, c.confirm) << c.data.size();
        EXPECT_EQ(app.m_settings.Rand, c.rand) << c.data.size();
        EXPECT_EQ(app.m_settings.Zero, 1u);  // missing: default
    }
}

TEST_F(SettingsTest, HashValueFixUp) {
    struct {
        bool stored;
        std::string data;
        std::string after;
    } cases[] = {
        {false, "", std::string(20, '\0')},
        {true, "", std::string(20, '\0')},
        {true, "12345", std::string(20, '\0')},
        {true, std::string(20, 'h'), std::string(20, 'h')},
        {true, std::string(25, 'l'), std::string(25, 'l')},  // longer keeps its length
    };
    for (const auto& c : cases) {
        CUserStoreKey::DeleteKey(kKey);
        if (c.stored) Store("HashValue", REG_BINARY, c.data);
        app.SetDefaultSettings();
        app.ExchangeSettings(false);
        EXPECT_EQ(app.m_settings.HashValue, c.stored ? c.data : "");
        app.FixHashValue();
        EXPECT_EQ(app.m_settings.HashValue, c.after);
        app.LoadAtStartUp();  // loads and fixes up the same way
        EXPECT_EQ(app.m_settings.HashValue, c.after);
    }
}

TEST_F(SettingsTest, FirstStartCreatesKeyAndUnopenableKeyChangesNothing) {
    app.SetDefaultSettings();
    app.ExchangeSettings(false);
    ASSERT_TRUE(test::Exists(CUserStoreKey::StoreFilePath()));
    EXPECT_NE(test::ReadFile(CUserStoreKey::StoreFilePath()).find("[Software\\Tessaron\\Kelto]"), std::string::npos);

    Store("Zero", REG_DWORD, std::string(4, '\0'));
    const std::string before = test::ReadFile(CUserStoreKey::StoreFilePath());
    fault::Inject(fault::Op::StoreOpen, CUserStoreKey::StoreFilePath());
    app.m_settings.Rand = 5;
    app.ExchangeSettings(false);
    EXPECT_EQ(app.m_settings.Zero, 1u);
    EXPECT_EQ(app.m_settings.Rand, 5u);
    app.ExchangeSettings(true);
    EXPECT_EQ(test::ReadFile(CUserStoreKey::StoreFilePath()), before);
}

TEST(ProgramPaths, BuildPathsAndVersion) {
    CMainApp app;
    app.BuildPaths();
    EXPECT_EQ(app.ModuleName, "kelto_tests");
    EXPECT_EQ(app.ModuleDir + "/" + app.ModuleName, app.ModulePath);
    EXPECT_TRUE(std::filesystem::equivalent(app.ModulePath, "/proc/self/exe"));
    EXPECT_EQ(app.WindowsDir, "/usr");
    EXPECT_EQ(app.SystemDir, "/usr/lib");
    EXPECT_EQ(app.SystemRoot, "/");
    EXPECT_EQ(app.RegistryKeyPath, "Software\\Tessaron\\Kelto");

    struct {
        unsigned v[4];
        const char* text;
    } cases[] = {{{1, 8, 5, 2}, "1.852"}, {{1, 8, 5, 0}, "1.85"}, {{2, 0, 0, 0}, "2.00"}, {{10, 1, 12, 3}, "10.1123"}};
    for (const auto& c : cases) EXPECT_EQ(FormatVersionText(c.v[0], c.v[1], c.v[2], c.v[3]), c.text);
    app.LoadVersionText();
    EXPECT_EQ(app.VersionText, FormatVersionText(KELTO_VERSION_MAJOR, KELTO_VERSION_MINOR, KELTO_VERSION_PATCH,
                                                 KELTO_VERSION_TWEAK + 0));
}

}  // namespace
}  // namespace kelto
