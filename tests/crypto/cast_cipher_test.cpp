#include "crypto/cast_cipher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "crypto/parallel_cipher.h"
#include "crypto_test_util.h"

namespace kelto {
namespace {

using test::Hex;
using test::ToHex;

const char kRfcKey128[] = "\x01\x23\x45\x67\x12\x34\x56\x78\x23\x45\x67\x89\x34\x56\x78\x9A";
const auto kRfcPlain = Hex("01 23 45 67 89 AB CD EF");

std::string Encrypt(const CCastCipher& c, const std::vector<uint8_t>& in) {
    uint8_t out[8];
    EXPECT_EQ(c.EncryptBlock(out, in.data()), 1);
    return ToHex(out, 8);
}

TEST(CastCipher, RfcVector128BitBothWays) {
    CCastCipher c;
    ASSERT_EQ(c.SetKey(kRfcKey128), 1);
    EXPECT_EQ(ToHex(c.KeyBytes(), 16), "0123456712345678234567893456789a");

    uint8_t cipher[8];
    ASSERT_EQ(c.EncryptBlock(cipher, kRfcPlain.data()), 1);
    EXPECT_EQ(ToHex(cipher, 8), "238b4fe5847e44b2");

    uint8_t plain[8];
    ASSERT_EQ(c.DecryptBlock(plain, cipher), 1);
    EXPECT_EQ(ToHex(plain, 8), ToHex(kRfcPlain.data(), 8));
}

// Short keys are padded to 128 bits and still get all 16 rounds, so the
// reduced-round results published for 80- and 40-bit keys must not appear.
TEST(CastCipher, ShortPasswordsRunSixteenRounds) {
    struct Case {
        const char* password;
        const char* twelveRoundCipher;
    } cases[] = {
        {"\x01\x23\x45\x67\x12\x34\x56\x78\x23\x45", "eb6a711a2c02271b"},
        {"\x01\x23\x45\x67\x12", "7ac816d16e9b302e"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.twelveRoundCipher);
        CCastCipher c;
        c.SetKey(k.password);
        uint8_t block[8];
        c.EncryptBlock(block, kRfcPlain.data());
        EXPECT_NE(ToHex(block, 8), k.twelveRoundCipher);
        c.DecryptBlock(block, block);
        EXPECT_EQ(ToHex(block, 8), ToHex(kRfcPlain.data(), 8));
    }
}

TEST(CastCipher, KeyBytesFollowThePasswordRule) {
    struct Case {
        const char* name;
        const char* password;  // nullptr allowed
        const char* sameKeyAs;
        std::string keyHex;
    } cases[] = {
        {"sixteen bytes, all used", "0123456789abcdef", "0123456789abcdef",
         "30313233343536373839616263646566"},
        {"seventeenth byte ignored", "0123456789abcdefX", "0123456789abcdef",
         "30313233343536373839616263646566"},
        {"zero byte ends the key", "ab\0cd", "ab", "61620000000000000000000000000000"},
        {"empty", "", "", std::string(32, '0')},
        {"null is empty", nullptr, "", std::string(32, '0')},
        {"double-byte character cut at 16", "0123456789abcde\x82\xA0", "0123456789abcde\x82",
         "303132333435363738396162636465" "82"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        CCastCipher c, ref;
        ASSERT_EQ(c.SetKey(k.password), 1);
        ref.SetKey(k.sameKeyAs);
        EXPECT_EQ(ToHex(c.KeyBytes(), 16), k.keyHex);
        EXPECT_EQ(Encrypt(c, kRfcPlain), Encrypt(ref, kRfcPlain));
    }
}

TEST(CastCipher, EmptyPasswordStillEnciphers) {
    CCastCipher c;
    c.SetKey("");
    uint8_t block[8];
    c.EncryptBlock(block, kRfcPlain.data());
    EXPECT_NE(ToHex(block, 8), ToHex(kRfcPlain.data(), 8));
    c.DecryptBlock(block, block);
    EXPECT_EQ(ToHex(block, 8), ToHex(kRfcPlain.data(), 8));
}

TEST(CastCipher, RekeyingWithShorterPasswordLeavesNothingOfTheFirst) {
    CCastCipher c, fresh;
    c.SetKey("a rather long password");
    c.SetKey("xy");
    fresh.SetKey("xy");
    EXPECT_EQ(ToHex(c.KeyBytes(), 16), "78790000000000000000000000000000");
    EXPECT_EQ(Encrypt(c, kRfcPlain), Encrypt(fresh, kRfcPlain));
    uint8_t back[8], cipher[8];
    c.EncryptBlock(cipher, kRfcPlain.data());
    fresh.DecryptBlock(back, cipher);
    EXPECT_EQ(ToHex(back, 8), ToHex(kRfcPlain.data(), 8));
}

TEST(CastCipher, InPlaceEqualsSeparateBuffers) {
    CCastCipher c;
    c.SetKey("in place");
    const auto data = test::RandomBytes(8 * 64, 7);
    for (bool decrypt : {false, true}) {
        SCOPED_TRACE(decrypt ? "decrypt" : "encrypt");
        for (size_t i = 0; i < data.size(); i += 8) {
            uint8_t separate[8], inPlace[8];
            std::memcpy(inPlace, &data[i], 8);
            if (decrypt) {
                c.DecryptBlock(separate, &data[i]);
                c.DecryptBlock(inPlace, inPlace);
            } else {
                c.EncryptBlock(separate, &data[i]);
                c.EncryptBlock(inPlace, inPlace);
            }
            ASSERT_EQ(ToHex(separate, 8), ToHex(inPlace, 8)) << "block " << i / 8;
        }
    }
}

// Reference: the single-block calls, one block after another.
std::vector<uint8_t> PerBlock(const CCastCipher& c, bool decrypt, std::vector<uint8_t> v) {
    for (size_t i = 0; i + 8 <= v.size(); i += 8) {
        if (decrypt)
            c.DecryptBlock(&v[i], &v[i]);
        else
            c.EncryptBlock(&v[i], &v[i]);
    }
    return v;
}

struct BulkCase {
    size_t bytes;
    size_t offset;  // start of the buffer past an aligned address
};

const BulkCase kBulkCases[] = {
    {0, 0}, {8, 0}, {24, 0}, {7 * 8, 0}, {7 * 8, 3}, {64 * 1024, 0}, {64 * 1024 + 8 * 5, 1},
    {1024 * 1024 + 8, 0}, {3 * 8 + 5, 0},  // a partial block at the end stays as it is
};

TEST(CastCipher, BulkPassesEqualPerBlockResults) {
    CCastCipher c;
    c.SetKey("bulk pass key");
    for (const auto& k : kBulkCases) {
        SCOPED_TRACE(std::to_string(k.bytes) + " bytes at offset " + std::to_string(k.offset));
        const auto plain = test::RandomBytes(k.bytes, static_cast<uint32_t>(k.bytes));
        const auto cipher = PerBlock(c, false, plain);
        ASSERT_EQ(PerBlock(c, true, cipher), plain);

        std::vector<uint8_t> buf(k.offset + k.bytes);
        std::copy(plain.begin(), plain.end(), buf.begin() + static_cast<ptrdiff_t>(k.offset));
        uint8_t* p = buf.data() + k.offset;
        c.EncryptBlocks(p, k.bytes);
        ASSERT_TRUE(std::equal(cipher.begin(), cipher.end(), p));
        c.DecryptBlocks(p, k.bytes);
        ASSERT_TRUE(std::equal(plain.begin(), plain.end(), p));
    }
}

TEST(ParallelCipher, PassesEqualPerBlockResults) {
    CCastCipher c;
    c.SetKey("parallel pass key");
    for (unsigned threads : {1u, 2u, 3u}) {
        CParallelCipher pc(threads);
        for (const auto& k : kBulkCases) {
            SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(k.bytes) +
                         " bytes at offset " + std::to_string(k.offset));
            const auto plain = test::RandomBytes(k.bytes, static_cast<uint32_t>(k.bytes) + 1);
            const auto cipher = PerBlock(c, false, plain);

            std::vector<uint8_t> buf(k.offset + k.bytes);
            std::copy(plain.begin(), plain.end(), buf.begin() + static_cast<ptrdiff_t>(k.offset));
            uint8_t* p = buf.data() + k.offset;
            pc.Encrypt(c, p, k.bytes);
            ASSERT_TRUE(std::equal(cipher.begin(), cipher.end(), p));
            pc.Decrypt(c, p, k.bytes);
            ASSERT_TRUE(std::equal(plain.begin(), plain.end(), p));
        }
    }
}

// Two threads sharing one splitter take turns; each gets its own result.
TEST(ParallelCipher, ConcurrentCallersTakeTurns) {
    CCastCipher c;
    c.SetKey("shared");
    CParallelCipher pc(2);
    const auto plain = test::RandomBytes(256 * 1024, 99);
    const auto cipher = PerBlock(c, false, plain);
    auto work = [&](std::vector<uint8_t>& buf) {
        for (int i = 0; i < 20; ++i) {
            pc.Encrypt(c, buf.data(), buf.size());
            pc.Decrypt(c, buf.data(), buf.size());
        }
        pc.Encrypt(c, buf.data(), buf.size());
    };
    std::vector<uint8_t> one = plain, two = plain;
    std::thread other([&] { work(two); });
    work(one);
    other.join();
    EXPECT_EQ(one, cipher);
    EXPECT_EQ(two, cipher);
}

// The maintenance test of RFC 2144 (B.2): a million rounds of rekeying
// exercise the S-boxes and the key schedule far beyond a single vector.
TEST(CastCipherLong, RfcMaintenanceTest) {
    uint8_t a[16], b[16];
    const auto init = Hex("01 23 45 67 12 34 56 78 23 45 67 89 34 56 78 9A");
    std::memcpy(a, init.data(), 16);
    std::memcpy(b, init.data(), 16);
    CCastCipher c;
    for (int i = 0; i < 1000000; ++i) {
        c.SetKeyBytes(b);
        c.EncryptBlock(a, a);
        c.EncryptBlock(a + 8, a + 8);
        c.SetKeyBytes(a);
        c.EncryptBlock(b, b);
        c.EncryptBlock(b + 8, b + 8);
    }
    EXPECT_EQ(ToHex(a, 16), "eea9d0a249fd3ba6b3436fb89d6dca92");
    EXPECT_EQ(ToHex(b, 16), "b2c95eb00c31ad7180ac05b8e83d696e");
}

}  // namespace
}  // namespace kelto
