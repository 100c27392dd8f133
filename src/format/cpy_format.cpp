#include "format/cpy_format.h"

#include <cstring>

namespace kelto {

bool BuildCheckBlock(const uint8_t* keyBytes, uint8_t* block16) {
    std::memset(block16, 0, kCheckBlockSize);
    size_t i = 0;
    for (; i < kCheckBlockSize && keyBytes[i] != 0; ++i) {
        if (keyBytes[i] == kLF) return false;
        block16[i] = keyBytes[i];
    }
    if (i < kCheckBlockSize) block16[i] = kLF;
    return true;
}

bool CheckBlockMatches(const uint8_t* deciphered16, const uint8_t* keyBytes) {
    uint8_t copy[kCheckBlockSize];
    std::memcpy(copy, deciphered16, kCheckBlockSize);
    if (void* lf = std::memchr(copy, kLF, kCheckBlockSize)) *static_cast<uint8_t*>(lf) = 0;
    return std::memcmp(copy, keyBytes, kCheckBlockSize) == 0;
}

bool BuildNameBlock(const std::string& name, uint8_t* block256) {
    if (name.size() > kMaxStoredName) return false;
    std::memset(block256, 0, kNameBlockSize);
    std::memcpy(block256, name.data(), name.size());
    block256[name.size()] = kLF;
    return true;
}

std::string ParseNameBlock(const uint8_t* deciphered256, bool* heldNul) {
    const void* lf = std::memchr(deciphered256, kLF, kNameBlockSize);
    const size_t lfAt = lf ? static_cast<const uint8_t*>(lf) - deciphered256 : kNameBlockSize;
    const void* nul = std::memchr(deciphered256, 0, lfAt);
    const size_t end = nul ? static_cast<const uint8_t*>(nul) - deciphered256 : lfAt;
    if (heldNul) *heldNul = nul != nullptr && lf != nullptr;
    return std::string(reinterpret_cast<const char*>(deciphered256), end);
}

bool IsSafeStoredName(const std::string& name, bool heldNul) {
    if (heldNul || name.empty() || name == "." || name == "..") return false;
    return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

void BuildRemainderBlock(const uint8_t* firstBytes, size_t count, uint8_t* block8) {
    std::memset(block8, 0, kRemainderBlockSize);
    block8[7 - count] = kLF;
    if (count) std::memcpy(block8 + 8 - count, firstBytes, count);
}

int ParseRemainderBlock(const uint8_t* deciphered8, const uint8_t** firstBytes) {
    const void* lf = std::memchr(deciphered8, kLF, kRemainderBlockSize);
    if (!lf) return -1;
    const size_t at = static_cast<const uint8_t*>(lf) - deciphered8;
    *firstBytes = deciphered8 + at + 1;
    return static_cast<int>(7 - at);
}

}  // namespace kelto
