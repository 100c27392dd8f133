#include "format/stream_crypt.h"

#include <gtest/gtest.h>

#include <cstring>

#include "app/text_table.h"
#include "format/cpy_format.h"
#include "platform/fault.h"
#include "platform/file.h"
#include "support/log_capture.h"
#include "test_util.h"

namespace kelto {
namespace {

using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    uint32_t x = 12345;
    for (auto& c : s) {
        x = x * 1103515245 + 12345;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

class StreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        TextTable().SetBuiltInTexts();
        stream.SetKey("secret");
    }

    // Encrypts `plain` stored under `name`; returns the encrypted bytes.
    bool Encrypt(const std::string& plain, const std::string& name, std::string* cipherOut = nullptr) {
        WriteFile(dir / "plain", plain);
        CFile in, out;
        EXPECT_TRUE(in.Open(dir / "plain", CFile::modeRead));
        EXPECT_TRUE(out.Open(dir / "out.cpy", CFile::modeCreate | CFile::modeReadWrite));
        stream.m_storedName = name;
        stream.m_itemBytes = 0;
        const bool ok = stream.EncryptStream(in, out);
        out.Close();
        if (cipherOut) *cipherOut = ReadFile(dir / "out.cpy");
        return ok;
    }

    bool Decrypt(const std::string& cipher, std::string* plainOut = nullptr) {
        WriteFile(dir / "in.cpy", cipher);
        CFile in, out;
        EXPECT_TRUE(in.Open(dir / "in.cpy", CFile::modeRead));
        EXPECT_TRUE(out.Open(dir / "dec", CFile::modeCreate | CFile::modeReadWrite));
        stream.m_sourcePath = dir / "in.cpy";
        stream.m_itemBytes = 0;
        const bool ok = stream.DecryptStream(in, out);
        out.Close();
        if (plainOut) *plainOut = ReadFile(dir / "dec");
        return ok;
    }

    // A file as a writer that trusts nothing would never make: any name block.
    std::string Forge(const std::string& password, const uint8_t* nameBlock, const std::string& remainderAndBody) {
        CCastCipher c;
        c.SetKey(password.c_str());
        uint8_t check[16];
        BuildCheckBlock(c.KeyBytes(), check);
        std::string out(reinterpret_cast<char*>(check), 16);
        out.append(reinterpret_cast<const char*>(nameBlock), 256);
        out += remainderAndBody;
        c.EncryptBlocks(reinterpret_cast<uint8_t*>(out.data()), out.size());
        return out;
    }

    ScratchDir dir;
    test::LogCapture log;
    CStreamCrypt stream;
};

TEST_F(StreamTest, LayoutAndRoundTripForEverySizeClass) {
    CCastCipher c;
    c.SetKey("secret");
    for (size_t size : {0u, 1u, 7u, 8u, 9u, 16u, 1048576u + 8u, 3u * 1048576u + 5u}) {
        SCOPED_TRACE(size);
        const std::string plain = Pattern(size);
        std::string cipher;
        ASSERT_TRUE(Encrypt(plain, "report.txt", &cipher));
        const size_t r = size % 8;
        ASSERT_EQ(cipher.size(), 280 + size - r);
        EXPECT_EQ(stream.m_itemBytes, cipher.size());

        // Every block deciphers on its own into the documented layout.
        std::string clear = cipher;
        c.DecryptBlocks(reinterpret_cast<uint8_t*>(clear.data()), clear.size());
        EXPECT_EQ(clear.substr(0, 16), std::string("secret\n") + std::string(9, '\0'));
        EXPECT_EQ(clear.substr(16, 256), "report.txt\n" + std::string(256 - 11, '\0'));
        const std::string remainder = clear.substr(272, 8);
        EXPECT_EQ(remainder.substr(0, 7 - r), std::string(7 - r, '\0'));
        EXPECT_EQ(remainder[7 - r], '\n');
        EXPECT_EQ(remainder.substr(8 - r), plain.substr(0, r));
        EXPECT_TRUE(clear.substr(280) == plain.substr(r));

        std::string back;
        ASSERT_TRUE(Decrypt(cipher, &back)) << stream.m_lastError;
        EXPECT_TRUE(back == plain);
        EXPECT_EQ(stream.m_storedName, "report.txt");
        EXPECT_EQ(stream.GetCurrentFile(), dir / "report.txt");
        EXPECT_EQ(stream.m_itemBytes, cipher.size());
    }
}

TEST_F(StreamTest, KeyRulesOfTheCheckBlock) {
    std::string cipher;
    stream.SetKey("0123456789abcdef");  // 16 bytes: no LF in the check block
    ASSERT_TRUE(Encrypt("data", "n", &cipher));
    CCastCipher c;
    c.SetKey("0123456789abcdef");
    std::string clear = cipher.substr(0, 16);
    c.DecryptBlocks(reinterpret_cast<uint8_t*>(clear.data()), 16);
    EXPECT_EQ(clear, "0123456789abcdef");

    stream.SetKey("0123456789abcdefXYZ");  // only the first 16 bytes count
    std::string back;
    ASSERT_TRUE(Decrypt(cipher, &back));
    EXPECT_EQ(back, "data");

    stream.SetKey("wrong");
    EXPECT_FALSE(Decrypt(cipher, &back));
    EXPECT_EQ(stream.m_lastError, "パスワードが間違っています。");
    EXPECT_EQ(back, "");
    EXPECT_EQ(stream.m_itemBytes, 16u);
}

TEST_F(StreamTest, NameOf255BytesFitsAndLongerIsRefused) {
    const std::string name(255, 'n');
    std::string cipher, back;
    ASSERT_TRUE(Encrypt("x", name, &cipher));
    ASSERT_TRUE(Decrypt(cipher, &back));
    EXPECT_EQ(stream.m_storedName, name);

    stream.SetCurrentFile(dir / "plain");
    EXPECT_THROW(Encrypt("x", name + "n"), CRunAbort);
    EXPECT_TRUE(log.HasProblem("ファイルパスが256文字をオーバーしました。", dir / "plain"));
}

TEST_F(StreamTest, LineFeedInThePasswordAbortsTheRunBeforeAnyBody) {
    stream.SetKey("bad\npassword");
    stream.SetCurrentFile(dir / "plain");
    EXPECT_THROW(Encrypt(Pattern(100), "n"), CRunAbort);
    EXPECT_EQ(ReadFile(dir / "out.cpy").size(), 0u);
    EXPECT_TRUE(log.HasProblem("不正文字を検出しました。", dir / "plain"));
}

TEST_F(StreamTest, DecryptFailureTexts) {
    std::string good;
    ASSERT_TRUE(Encrypt(Pattern(100), "n", &good));
    const std::string sizeText = "暗号化ファイルサイズが異常です。";
    EXPECT_FALSE(Decrypt(good.substr(0, 279)));
    EXPECT_EQ(stream.m_lastError, sizeText);
    EXPECT_FALSE(Decrypt(good + "x"));
    EXPECT_EQ(stream.m_lastError, sizeText);
    EXPECT_EQ(stream.m_itemBytes, 0u);

    // A file that ends early at each block, as if it shrank while read.
    const struct {
        long long at;
        const char* text;
    } shrinks[] = {
        {0, "暗号化ファイルの読み込みエラー:Decrypt:Key"},
        {16, "暗号化ファイルの読み込みエラー:Decript.FileName"},
        {272, "暗号化ファイルのパディング読み込みに失敗しました"},
        {280, "Keltoフォーマットファイルが壊れています。"},
        {284, "Keltoフォーマットファイルが壊れています。"},
    };
    for (const auto& s : shrinks) {
        SCOPED_TRACE(s.at);
        fault::ClearAll();
        fault::Inject(fault::Op::ReadEof, dir / "in.cpy", 0, s.at);
        EXPECT_FALSE(Decrypt(good));
        EXPECT_EQ(stream.m_lastError, s.text);
    }
}

TEST_F(StreamTest, ForgedBlocksAreRefused) {
    uint8_t name[256] = {};
    std::memcpy(name, "ok\n", 3);
    std::string noLf(8, '\0');  // remainder block without its LF
    EXPECT_FALSE(Decrypt(Forge("secret", name, noLf)));
    EXPECT_EQ(stream.m_lastError, "暗号化ファイルのパディングが壊れています");

    std::string padding = std::string(7, '\0') + "\n";
    uint8_t empty[256] = {'\n'};
    EXPECT_FALSE(Decrypt(Forge("secret", empty, padding)));
    EXPECT_EQ(stream.m_lastError, "復号化ファイル名の取得に失敗しました。Decript.FileName");
}

TEST_F(StreamTest, StoredNamesThatLeaveTheFolderAreRefused) {
    const std::string padding = std::string(7, '\0') + "\n";
    const std::string names[] = {".", "..", "../escape", "a/b", "/etc/passwd", std::string("a\0b", 3)};
    for (const std::string& bad : names) {
        SCOPED_TRACE(bad);
        uint8_t block[256] = {};
        std::memcpy(block, bad.data(), bad.size());
        block[bad.size()] = '\n';
        std::string back = "untouched";
        stream.SetCurrentFile("");
        EXPECT_FALSE(Decrypt(Forge("secret", block, padding), &back));
        EXPECT_EQ(stream.m_lastError, "復号化ファイル名が不正です。Decript.FileName");
        EXPECT_EQ(back, "");
        EXPECT_EQ(stream.GetCurrentFile(), "");  // no path outside the folder was ever formed
    }
}

TEST_F(StreamTest, StopRequests) {
    // Encrypting clears an earlier request and runs in full.
    stream.m_stopFlag = 1;
    std::string cipher;
    ASSERT_TRUE(Encrypt(Pattern(3 * 1048576 + 3), "n", &cipher));

    // Decrypting keeps it, and stops after the remainder bytes.
    stream.m_stopFlag = 1;
    std::string back;
    EXPECT_FALSE(Decrypt(cipher, &back));
    EXPECT_EQ(stream.m_lastError, "ファイルの復号化を中止します。");
    EXPECT_EQ(back, Pattern(3)); 
    stream.m_stopFlag = 0;

    // A request during the cipher pass stops encryption at the next chunk.
    static CStreamCrypt* target;
    target = &stream;
    fault::OnOperation(fault::Op::Write, dir / "out.cpy", [](const std::string&, void*) { target->m_stopFlag = 1; }, nullptr);
    EXPECT_FALSE(Encrypt(Pattern(3 * 1048576), "n", &cipher));
    EXPECT_EQ(stream.m_lastError, "ファイルの暗号化を中止します。");
    EXPECT_LE(cipher.size(), 280u + 1048576u);
}

TEST_F(StreamTest, InputThatEndsEarlyIsAnOrdinaryFailure) {
    fault::Inject(fault::Op::ReadEof, dir / "plain", 0, 1000);
    EXPECT_FALSE(Encrypt(Pattern(5000), "n"));
    EXPECT_EQ(stream.m_lastError, "ファイルの読み込みに失敗しました。");

    // Before the remainder bytes it is a refusal of the whole run.
    fault::ClearAll();
    fault::Inject(fault::Op::ReadEof, dir / "plain", 0, 0);
    EXPECT_THROW(Encrypt(Pattern(5001), "n"), CRunAbort);
}

TEST_F(StreamTest, FileErrorsBecomeTheirTexts) {
    fault::Inject(fault::Op::Write, dir / "out.cpy", CFileException::diskFull, 4096);
    EXPECT_FALSE(Encrypt(Pattern(2 * 1048576), "n"));
    EXPECT_EQ(stream.m_lastError, "ディスク 容量不足");

    fault::ClearAll();
    std::string cipher;
    ASSERT_TRUE(Encrypt(Pattern(100), "n", &cipher));
    fault::Inject(fault::Op::Read, dir / "in.cpy", CFileException::hardIO, 100);
    EXPECT_FALSE(Decrypt(cipher));
    EXPECT_EQ(stream.m_lastError, "ハードウェア エラー");
}

}  // namespace
}  // namespace kelto
