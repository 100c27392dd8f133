#include "app/text_table.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "test_util.h"
#include "platform/user_store.h"

namespace kelto {
namespace {

using Entries = std::map<std::string, std::string>;

constexpr const char* kZen = "Software\\Tessaron\\Kelto\\Zen";

TEST(TextTable, BuiltInEntries) {
    auto builtIn = BuiltInTextEntries();
    ASSERT_EQ(builtIn.size(), 78u);
    std::set<std::string> keys;
    for (const TextEntry& e : builtIn) keys.insert(e.key);
    EXPECT_EQ(keys.size(), 78u);

    // Position (from 0), key and its text byte for byte.
    struct {
        size_t index;
        const char* key;
        const char* text;
    } spots[] = {
        {0, "kelto_name", "Kelto"},
        {1, "kelto_ext", ".cpy"},
        {5, "kelto_site", "KELTO \xe3\x81\xae\xe3\x82\xb5\xe3\x82\xa4\xe3\x83\x88\xe3\x81\xa7\xe3\x81\x99\xe3\x80\x82"},
        {14, "message_cryption_started", "暗号化-復号化を開始します"},
        {35, "font_name", "\xef\xbc\xad\xef\xbc\xb3\xe3\x80\x80\xe3\x82\xb4\xe3\x82\xb7\xe3\x83\x83\xe3\x82\xaf"},
        {36, "button_cipher", "\xe6\x9a\x97\xe5\x8f\xb7\xe5\x8c\x96"},
        {42, "button_kelto", "GO !"},
        {46, "used", "Keltoをご使用になられた場合に作成されます。"},
        {68, "error_safety_check",
         "\xe3\x80\x8c\xe6\x9a\x97\xe5\x8f\xb7\xe5\x8c\x96\xef\xbc\x8d\xe5\xbe\xa9\xe5\x8f\xb7\xe5\x8c\x96\xe3\x80\x8d"
         "安全確認チェックプログラムにエラーが発生しました。"},
        {18, "message_password_hash", "前回と違うパスワードです、暗号化を行いますか\xef\xbc\x9f"},
        {77, "error_file_status", "ファイルステータスの設定に失敗しました。"},
    };
    for (const auto& s : spots) {
        EXPECT_STREQ(builtIn[s.index].key, s.key);
        EXPECT_STREQ(builtIn[s.index].text, s.text) << s.key;
    }
    // The addresses are placeholders of our own.
    for (const char* k : {"kelto_regionalization_by_url", "kelto_regionalization_by_email", "kelto_site_url"}) {
        CTextTable t;
        t.SetBuiltInTexts();
        EXPECT_NE(t.GetText(k).find("example.org"), std::string::npos) << k;
    }

    CTextTable table;
    table.SetBuiltInTexts();
    EXPECT_EQ(table.Size(), 78u);
    EXPECT_EQ(table.GetText("no_such_key"), "no_such_key");
    EXPECT_EQ(table.GetText(""), "");
}

TEST(TextTable, TrimTextField) {
    struct {
        const char* field;
        bool ok;
        const char* result;
    } cases[] = {
        {"", false, nullptr},
        {" \t ", false, nullptr},
        {"//comment", false, nullptr},
        {" \t// comment", false, nullptr},
        {"\"中止\"", true, "中止"},
        {"'OK'", true, "OK"},
        {"\"\"", true, ""},
        {"''", true, ""},
        {"'it is'", true, "it is"},
        {"  \"x\" more words", true, "x"},
        {"'a\"b'", true, "a\"b"},           // the other quote is text
        {"\"a//b\"", true, "a//b"},          // no comment inside quotes
        {"text // note", true, "text "},     // blanks before a comment stay
        {"\ttext//note", true, "text"},
        {"Encrypt", true, "Encrypt"},
        {"  Encrypt  ", true, "Encrypt  "},  // trailing blanks are never cut
        {"a/b/", true, "a/b/"},
        {"\"unclosed", true, "\"unclosed"},  // the quote stays
        {"  'unclosed // x", true, "'unclosed // x"},
    };
    for (const auto& c : cases) {
        std::string storage = c.field;
        char* field = storage.data();
        bool ok = TrimTextField(field);
        ASSERT_EQ(ok, c.ok) << "[" << c.field << "]";
        if (ok) {
            EXPECT_STREQ(field, c.result) << "[" << c.field << "]";
        }
    }
}

TEST(TextTable, ParseText) {
    struct {
        const char* file;
        Entries expect;
    } cases[] = {
        {"button_cipher=Encrypt", {{"button_cipher", "Encrypt"}}},
        {"a=b=c", {{"a=b", "c"}}},  // split at the last "="
        {"//comment=x\n  // k=v\n", {}},
        {"key=\nkey=  \n=text\n", {}},
        {"key=\"\"", {{"key", ""}}},
        {"key='it is'", {{"key", "it is"}}},
        {"key=\"x\" more words", {{"key", "x"}}},
        {"key=text //note", {{"key", "text "}}},
        {"a=1\r\nb=2\nc=3\rd=4", {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}}},
        {"a=1\n\rb=2\r\n\r\nc=3\n", {{"a", "1"}, {"b", "2"}, {"c", "3"}}},
        {"no equals here\nk=v\nlast line", {{"k", "v"}}},
        {"k=first\nk=second", {{"k", "second"}}},
        {"k = v", {{"k ", "v"}}},
        {"", {}},
        {"\n\r\r\n\n", {}},
        {"language=\"English\" // name\nfont_name='Sans'", {{"language", "English"}, {"font_name", "Sans"}}},
    };
    for (const auto& c : cases) {
        std::string buffer = c.file;
        CTextTable table;
        table.ParseText(buffer.data());
        EXPECT_EQ(table.Entries(), c.expect) << "[" << c.file << "]";
    }
}

void StoreZen(const std::vector<std::pair<std::string, StoreValue>>& values) {
    CUserStoreKey key;
    ASSERT_TRUE(key.Create(kZen));
    for (const auto& [name, v] : values) ASSERT_TRUE(key.SetValue(name, v));
}

StoreValue Sz(const std::string& s, int type = REG_SZ) {
    StoreValue v;
    v.type = type;
    v.data = s + '\0';
    return v;
}

TEST(TextTable, StoredValuesReadUntilTheFirstUnusable) {
    const std::string longText(300, 'x'), fullText(251, 'x');
    StoreValue binary = Sz("one=1", REG_BINARY), dword = Sz("one=1", REG_DWORD), bare, empty;
    bare.data = "one=1";
    struct {
        const char* what;
        bool hasZen1;
        StoreValue zen1;
        const char* oneText;  // nullptr: "one" not set
        bool readsOn;         // Zen2 is read
    } cases[] = {
        {"plain", true, Sz("one=1"), "1", true},
        {"expandable", true, Sz("one=1", REG_EXPAND_SZ), "1", true},
        {"first = splits", true, Sz("one=a=b"), "a=b", true},
        {"empty text", true, Sz("one="), "", true},
        {"255 bytes", true, Sz("one=" + fullText), fullText.c_str(), true},
        {"long", true, Sz("one=" + longText), nullptr, false},
        {"no =", true, Sz("one"), nullptr, true},
        {"= first", true, Sz("=one"), nullptr, true},
        {"empty string", true, Sz(""), nullptr, true},
        {"NUL before =", true, Sz(std::string("one\0=1", 6)), nullptr, true},
        {"missing", false, {}, nullptr, false},
        {"binary", true, binary, nullptr, false},
        {"dword", true, dword, nullptr, false},
        {"no NUL", true, bare, nullptr, false},
        {"no bytes", true, empty, nullptr, false},
    };
    for (const auto& c : cases) {
        test::ScratchDir dir;
        std::vector<std::pair<std::string, StoreValue>> values = {{"Zen0", Sz("zero=0")}, {"Zen2", Sz("two=2")}};
        if (c.hasZen1) values.push_back({"Zen1", c.zen1});
        StoreZen(values);
        CTextTable table;
        table.Load(kZen, "");
        EXPECT_EQ(table.GetText("zero"), "0") << c.what;
        EXPECT_EQ(table.GetText("one"), c.oneText ? c.oneText : "one") << c.what;
        EXPECT_EQ(table.GetText("two"), c.readsOn ? "2" : "two") << c.what;
        EXPECT_EQ(table.GetText("button_okay"), "OK") << c.what;
    }
}

TEST(TextTable, SaveLoadRoundTripAndPrecedence) {
    test::ScratchDir dir;
    CTextTable saved;
    saved.SetBuiltInTexts();
    saved.SetText("button_cipher", "Stored");
    saved.SetText("menu_set", "Stored set");
    saved.SetText("extra", "");
    saved.SetText("odd \"key\"", "line\r\nbreak % [x] \xff");
    saved.SetText("long_text", std::string(200, 'y'));
    saved.SaveToRegistry(kZen);

    CTextTable loaded;
    loaded.Load(kZen, "");
    EXPECT_EQ(loaded.Entries(), saved.Entries());

    // Language file over stored texts over built-in ones.
    test::WriteFile(dir / "lang.zen", "button_cipher=Encrypt\n");
    CTextTable withFile;
    withFile.Load(kZen, dir / "lang.zen");
    EXPECT_EQ(withFile.GetText("button_cipher"), "Encrypt");
    EXPECT_EQ(withFile.GetText("menu_set"), "Stored set");
    EXPECT_EQ(withFile.GetText("button_okay"), "OK");

    CTextTable noFile;
    noFile.Load(kZen, dir / "missing.zen");
    EXPECT_EQ(noFile.Entries(), saved.Entries());

    // Deleting takes the subkey, not its parent's values, and empties the table.
    {
        CUserStoreKey parent;
        ASSERT_TRUE(parent.Create("Software\\Tessaron\\Kelto"));
        ASSERT_TRUE(parent.SetValue("Zero", Sz("")));
    }
    withFile.DeleteFromRegistry(kZen);
    EXPECT_EQ(withFile.Size(), 0u);
    CTextTable afterDelete;
    afterDelete.Load(kZen, "");
    EXPECT_EQ(afterDelete.Size(), 78u);
    EXPECT_EQ(afterDelete.GetText("button_cipher"), "暗号化");
    CUserStoreKey parent;
    StoreValue v;
    ASSERT_TRUE(parent.Create("Software\\Tessaron\\Kelto"));
    EXPECT_TRUE(parent.QueryValue("Zero", v));
}

TEST(TextTable, StoreUnavailable) {
    test::ScratchDir dir;
    CTextTable empty;
    empty.SaveToRegistry(kZen);
    EXPECT_FALSE(test::Exists(CUserStoreKey::StoreFilePath()));  // nothing to save, nothing written

    fault::Inject(fault::Op::StoreOpen, CUserStoreKey::StoreFilePath());
    test::WriteFile(dir / "lang.zen", "button_cipher=Encrypt");
    CTextTable table;
    table.Load(kZen, dir / "lang.zen");
    EXPECT_EQ(table.Size(), 78u);
    EXPECT_EQ(table.GetText("button_cipher"), "Encrypt");
    table.SaveToRegistry(kZen);
    table.DeleteFromRegistry(kZen);
    EXPECT_EQ(table.Size(), 0u);
    EXPECT_FALSE(test::Exists(CUserStoreKey::StoreFilePath()));
}

}  // namespace
}  // namespace kelto
