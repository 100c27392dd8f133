// The ".cpy" layout: a 16-byte check block, a 256-byte name block, an
// 8-byte remainder block, then the body; every 8-byte block enciphered on
// its own under the password's key bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelto {

inline constexpr size_t kCheckBlockSize = 16;
inline constexpr size_t kNameBlockSize = 256;
inline constexpr size_t kRemainderBlockSize = 8;
inline constexpr uint64_t kHeaderSize = kCheckBlockSize + kNameBlockSize + kRemainderBlockSize;  // 280
inline constexpr size_t kMaxStoredName = 255;
inline constexpr uint8_t kLF = 0x0A;

inline uint64_t EncryptedSizeOf(uint64_t plainSize) { return kHeaderSize + plainSize - plainSize % 8; }
inline bool IsValidEncryptedSize(uint64_t size) { return size >= kHeaderSize && size % 8 == 0; }

// false when the key bytes hold an LF (the block would be ambiguous).
bool BuildCheckBlock(const uint8_t* keyBytes, uint8_t* block16);
// The deciphered check block opens the file when it equals the key bytes.
bool CheckBlockMatches(const uint8_t* deciphered16, const uint8_t* keyBytes);

// false when the name is longer than 255 bytes.
bool BuildNameBlock(const std::string& name, uint8_t* block256);
// The stored name: the bytes before the first LF (or zero byte).
// `heldNul` tells whether a zero byte came before the LF.
std::string ParseNameBlock(const uint8_t* deciphered256, bool* heldNul = nullptr);
// A name we may create in the encrypted file's folder: not empty, not "."
// or "..", no "/" and no zero byte.
bool IsSafeStoredName(const std::string& name, bool heldNul);

// r = count (0..7) first plaintext bytes go last, after 7 - r zeros and LF.
void BuildRemainderBlock(const uint8_t* firstBytes, size_t count, uint8_t* block8);
// Bytes after the first LF, or -1 when there is no LF.
int ParseRemainderBlock(const uint8_t* deciphered8, const uint8_t** firstBytes);

}  // namespace kelto
