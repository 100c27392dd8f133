// CAST-128 keyed directly from the password bytes, one 8-byte block at a
// time, every block on its own (no chaining).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelto {

class CCastCipher {
public:
    CCastCipher();  // keyed with the empty password

    // Key bytes: the password up to its first zero byte, at most 16 bytes,
    // zero-padded to 16. Always all 16 rounds, whatever the length.
    // nullptr counts as the empty password. Returns 1.
    int SetKey(const char* password);

    // Keys with 16 raw key bytes, zero bytes included (the password rule
    // cannot express those). Returns 1.
    int SetKeyBytes(const uint8_t* key16);

    // out may equal in. Return 1.
    int EncryptBlock(uint8_t* out, const uint8_t* in) const;
    int DecryptBlock(uint8_t* out, const uint8_t* in) const;

    const uint8_t* KeyBytes() const { return m_keyBytes; }  // 16 bytes

    // In place over bytes / 8 whole blocks (a trailing partial block is left
    // alone); the same bytes as EncryptBlock/DecryptBlock block by block.
    void EncryptBlocks(uint8_t* data, size_t bytes) const;
    void DecryptBlocks(uint8_t* data, size_t bytes) const;

private:
    uint8_t m_keyBytes[16];
    uint32_t m_kr[16];  // rotation subkeys, 0..31
    uint32_t m_km[16];  // masking subkeys
};

}  // namespace kelto
