#include "crypto/sha1.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "crypto_test_util.h"

namespace kelto {
namespace {

std::string DigestHex(CSha1& sha, const std::string& input) {
    uint8_t out[20];
    uint32_t capacity = sizeof out;
    const int n = sha.Digest(out, &capacity, reinterpret_cast<const uint8_t*>(input.data()),
                             static_cast<uint32_t>(input.size()));
    EXPECT_EQ(n, 20);
    EXPECT_EQ(capacity, 20u);
    return test::ToHex(out, 20);
}

// Expected: SHA-1 of the input written ten times in a row.
TEST(Sha1, DigestIsOfTheInputRepeatedTenTimes) {
    struct Case {
        const char* name;
        std::string input;
        const char* digest;
    } cases[] = {
        {"empty message", "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"50 bytes: padding fits the last block", "abcde",
         "8f81240564e782014df07a3e69ed8d53de741a0b"},
        {"60 bytes: padding needs one more block", "passwd",
         "fd949e19e629cb1d83d71045071d94405d55426f"},
        {"120 bytes: last block filled to exactly 56", "hello world!",
         "264904f01442d72e3c3aeec81576f3ecb544f9b0"},
        {"560 bytes over nine blocks",
         "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "ff77fe444feb4d40e1afb5f64c6d2e57b1134dc7"},
        {"bytes above 0x7f", "\x82\xA0\x41\xFF", "61c94609e2560bb2f6247bde2dc9ba43c5102080"},
        {"one million 'a'", std::string(100000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        CSha1 sha;
        EXPECT_EQ(DigestHex(sha, k.input), k.digest);
    }
}

TEST(Sha1, SameObjectGivesTheSameDigestTwice) {
    CSha1 sha;
    const std::string first = DigestHex(sha, "hello world!");
    EXPECT_EQ(DigestHex(sha, "passwd"), "fd949e19e629cb1d83d71045071d94405d55426f");
    EXPECT_EQ(DigestHex(sha, "hello world!"), first);
}

TEST(Sha1, CapacityBelowTwentyFailsAndWritesNothing) {
    CSha1 sha;
    uint8_t out[20];
    std::fill(std::begin(out), std::end(out), 0xAA);
    uint32_t capacity = 19;
    const uint8_t input[] = {'a', 'b', 'c'};
    int calls = 0;
    auto progress = [](int, int, void* user) { ++*static_cast<int*>(user); };
    EXPECT_EQ(sha.Digest(out, &capacity, input, sizeof input, progress, &calls), 0);
    EXPECT_EQ(capacity, 19u);
    EXPECT_EQ(calls, 0);
    for (uint8_t b : out) EXPECT_EQ(b, 0xAA);
}

TEST(Sha1, ProgressReportsStartEachRepetitionAndEnd) {
    CSha1 sha;
    std::vector<std::pair<int, int>> seen;
    auto progress = [](int index, int repeat, void* user) {
        static_cast<std::vector<std::pair<int, int>>*>(user)->emplace_back(index, repeat);
    };
    uint8_t out[20];
    uint32_t capacity = 20;
    const uint8_t input[] = {'x'};
    ASSERT_EQ(sha.Digest(out, &capacity, input, 1, progress, &seen), 20);

    std::vector<std::pair<int, int>> expected{{0, 10}};
    for (int i = 0; i < 10; ++i) expected.emplace_back(i, 10);
    expected.emplace_back(0, 10);
    EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace kelto
