#include "engine/file_helpers.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/fs.h"
#include "test_util.h"

namespace kelto {
namespace {

using test::ScratchDir;
using test::WriteFile;

TEST(NamingTest, EncryptedNameCountsUpPastTakenNames) {
    ScratchDir dir;
    const std::string src = dir / "a.txt";
    WriteFile(src, "x");
    std::string out;
    MakeEncryptedName(out, src);
    EXPECT_EQ(out, dir / "a.txt.cpy");
    WriteFile(dir / "a.txt.cpy", "");
    MakeEncryptedName(out, src);
    EXPECT_EQ(out, dir / "a~0.txt.cpy");
    WriteFile(dir / "a~0.txt.cpy", "");
    MakeEncryptedName(out, src);
    EXPECT_EQ(out, dir / "a~1.txt.cpy");

    // A name without a dot: base and extension are both empty.
    WriteFile(dir / "plain.cpy", "");
    MakeEncryptedName(out, dir / "plain");
    EXPECT_EQ(out, dir / "~0..cpy");

    // A folder of the name does not count as taken.
    std::filesystem::create_directory(dir / "b.txt.cpy");
    MakeEncryptedName(out, dir / "b.txt");
    EXPECT_EQ(out, dir / "b.txt.cpy");
}

TEST(NamingTest, AliasNameSkipsFilesAndFolders) {
    ScratchDir dir;
    std::string out = "unchanged";
    EXPECT_EQ(MakeAliasName(dir / "README", out), 0);
    EXPECT_EQ(MakeAliasName("a.txt", out), 0);  // no folder part

    EXPECT_EQ(MakeAliasName(dir / "a.txt", out), 1);
    EXPECT_EQ(out, dir / "a.txt");  // free: the name itself
    WriteFile(dir / "a.txt", "");
    std::filesystem::create_directory(dir / "a~0.txt");
    EXPECT_EQ(MakeAliasName(dir / "a.txt", out), 1);
    EXPECT_EQ(out, dir / "a~1.txt");
}

TEST(NamingTest, RandomNameIsThirteenCharactersAndFree) {
    ScratchDir dir;
    std::string first, second, bare;
    MakeRandomName(first, dir / "some.file", "cpy");
    ASSERT_EQ(first.size(), dir.path().size() + 1 + 13 + 4);
    EXPECT_EQ(first.compare(0, dir.path().size() + 1, dir.path() + "/"), 0);
    EXPECT_EQ(first.substr(first.size() - 4), ".cpy");
    for (char c : first.substr(dir.path().size() + 1, 13)) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)));

    // Folders of one run do not share their names.
    std::filesystem::create_directory(dir / "other");
    std::string elsewhere;
    MakeRandomName(elsewhere, dir / "other", "cpy");
    EXPECT_NE(FileNamePartOf(elsewhere), FileNamePartOf(first));

    // A taken name makes it draw on.
    WriteFile(first, "");
    MakeRandomName(second, dir.path(), "cpy");
    EXPECT_NE(first, second);

    // An empty extension leaves no trailing dot; a folder given with a
    // trailing separator is the folder itself.
    MakeRandomName(bare, dir.path() + "/", "");
    EXPECT_EQ(bare.size(), dir.path().size() + 1 + 13);
    EXPECT_EQ(bare.find('.', dir.path().size()), std::string::npos);
}

TEST(PathPartsTest, Table) {
    struct Case {
        const char* path;
        int folderOk; const char* folder;
        int baseOk; const char* base;
        int extOk; const char* ext;
        int nameOk; const char* name;
    };
    const Case cases[] = {
        {"/d/a.txt", 1, "/d", 1, "a", 1, "txt", 1, "a.txt"},
        {"/d/a.b.c", 1, "/d", 1, "a.b", 1, "c", 1, "a.b.c"},
        {"/d/a.", 1, "/d", 1, "a", 1, "", 1, "a."},
        {"/a.b/README", 1, "/a.b", 0, "", 0, "", 1, "README"},
        {"/x/.profile", 1, "/x", 0, "", 0, "", 1, ".profile"},
        {"/x", 1, "", 0, "", 0, "", 1, "x"},
        {"noslash.txt", 0, "noslash.txt", 0, "", 0, "", 0, ""},
        {"/d/*?.t?t", 1, "/d", 1, "*?", 1, "t?t", 1, "*?.t?t"},
        {"/日本/語.文書", 1, "/日本", 1, "語", 1, "文書", 1, "語.文書"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string folder, base, ext, name;
        EXPECT_EQ(GetFolderPart(c.path, folder), c.folderOk);
        EXPECT_EQ(folder, c.folder);
        EXPECT_EQ(GetBaseName(c.path, base), c.baseOk);
        if (c.baseOk) { EXPECT_EQ(base, c.base); }
        EXPECT_EQ(GetExtension(c.path, ext), c.extOk);
        if (c.extOk) { EXPECT_EQ(ext, c.ext); }
        EXPECT_EQ(GetFileNamePart(c.path, name), c.nameOk);
        if (c.nameOk) { EXPECT_EQ(name, c.name); }
    }
}

TEST(PathPartsTest, JoinTakesAFolderOrTheFolderOfAFile) {
    ScratchDir dir;
    std::filesystem::create_directory(dir / "sub*");
    struct Case {
        std::string pathOrFolder, name, expected;
    };
    const Case cases[] = {
        {dir / "sub*", "n", dir / "sub*/n"},          // a folder, "*" literal
        {dir / "sub*/", "n", dir / "sub*/n"},         // trailing separator dropped
        {dir / "file.txt", "n", dir / "n"},           // a file (or nothing): its folder
        {"/", "n", "/n"},
        {"bare", "n", "bare/n"},                      // no separator: the whole text
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(JoinFolderAndName(c.pathOrFolder, c.name, out), 1);
        EXPECT_EQ(out, c.expected) << c.pathOrFolder;
    }
}

TEST(FileHelpersTest, FileErrorTextTable) {
    const char* const texts[] = {
        "", "未定義エラー", "ファイル未定義", "不正パス", "開いているファイル数の超過", "ファイル アクセス禁止",
        "不正ファイル ハンドル使用", "作業中の現在のフォルダの削除不可", "フォルダ 容量不足",
        "ファイル ポインタ設定エラー", "ハードウェア エラー",
        "SHARE.EXE が読み込まれていない、または共有領域ロック済み", "ロック済み領域のロック要求",
        "ディスク 容量不足", "ファイルの終わりに到達",
    };
    for (int cause = 0; cause <= 14; ++cause) {
        std::string out = "x";
        EXPECT_EQ(FileErrorText(cause, out), 1);
        EXPECT_EQ(out, texts[cause]) << cause;
    }
    for (int cause : {15, -1}) {
        std::string out = "kept";
        EXPECT_EQ(FileErrorText(cause, out), 0);
        EXPECT_EQ(out, "kept");
    }
}

TEST(FileHelpersTest, EntriesSizesAndRoots) {
    ScratchDir dir;
    WriteFile(dir / "f", "12345");
    std::filesystem::create_directory(dir / "d");
    EXPECT_EQ(GetFileSize64(dir / "f"), 5u);
    EXPECT_EQ(GetFileSize64(dir / "missing"), ~0ULL);
    EXPECT_TRUE(IsExistingFile(dir / "f"));
    EXPECT_FALSE(IsExistingFile(dir / "d"));
    EXPECT_TRUE(IsFolder(dir / "d"));
    EXPECT_FALSE(IsFolder(dir / "f"));
    EXPECT_FALSE(IsFolder(dir / "d/.."));
    EXPECT_TRUE(IsDriveRoot("/"));
    EXPECT_FALSE(IsDriveRoot(dir / "d"));
    EXPECT_FALSE(IsDriveRoot(""));
    EXPECT_EQ(GetDriveTypeOfPath("nosep"), 0);
}

TEST(FileHelpersTest, ClearReadOnlyReturnsTheFormerAttributes) {
    ScratchDir dir;
    const std::string f = dir / "ro";
    WriteFile(f, "x");
    ASSERT_TRUE(SetFileAttributesOf(f, FILE_ATTRIBUTE_READONLY));
    const int64_t before = ClearReadOnly(f);
    EXPECT_TRUE(before & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(GetFileAttributesOf(f) & FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(ClearReadOnly(dir / "missing"), -1);
}

}  // namespace
}  // namespace kelto
