#include "crypto/cast_cipher.h"

#include <cstring>

#include "crypto/cast_kernel.h"
#include "crypto/cast_sboxes.h"

namespace kelto {

namespace {

using cast::kSBox;

inline uint32_t S5(uint8_t i) { return kSBox[4][i]; }
inline uint32_t S6(uint8_t i) { return kSBox[5][i]; }
inline uint32_t S7(uint8_t i) { return kSBox[6][i]; }
inline uint32_t S8(uint8_t i) { return kSBox[7][i]; }

inline uint32_t Get(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

inline void Put(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// The 128-bit key schedule: x holds the key material, z the scratch words;
// each half of the loop yields sixteen of K1..K32.
void Schedule(const uint8_t key[16], uint32_t k32[32]) {
    uint8_t x[16];
    uint8_t z[16];
    std::memcpy(x, key, 16);

    auto xToZ = [&] {
        Put(z + 0, Get(x + 0) ^ S5(x[0xD]) ^ S6(x[0xF]) ^ S7(x[0xC]) ^ S8(x[0xE]) ^ S7(x[0x8]));
        Put(z + 4, Get(x + 8) ^ S5(z[0x0]) ^ S6(z[0x2]) ^ S7(z[0x1]) ^ S8(z[0x3]) ^ S8(x[0xA]));
        Put(z + 8, Get(x + 12) ^ S5(z[0x7]) ^ S6(z[0x6]) ^ S7(z[0x5]) ^ S8(z[0x4]) ^ S5(x[0x9]));
        Put(z + 12, Get(x + 4) ^ S5(z[0xA]) ^ S6(z[0x9]) ^ S7(z[0xB]) ^ S8(z[0x8]) ^ S6(x[0xB]));
    };
    auto zToX = [&] {
        Put(x + 0, Get(z + 8) ^ S5(z[0x5]) ^ S6(z[0x7]) ^ S7(z[0x4]) ^ S8(z[0x6]) ^ S7(z[0x0]));
        Put(x + 4, Get(z + 0) ^ S5(x[0x0]) ^ S6(x[0x2]) ^ S7(x[0x1]) ^ S8(x[0x3]) ^ S8(z[0x2]));
        Put(x + 8, Get(z + 4) ^ S5(x[0x7]) ^ S6(x[0x6]) ^ S7(x[0x5]) ^ S8(x[0x4]) ^ S5(z[0x1]));
        Put(x + 12, Get(z + 12) ^ S5(x[0xA]) ^ S6(x[0x9]) ^ S7(x[0xB]) ^ S8(x[0x8]) ^ S6(z[0x3]));
    };

    for (int half = 0; half < 2; ++half) {
        uint32_t* k = k32 + 16 * half;
        xToZ();
        k[0] = S5(z[0x8]) ^ S6(z[0x9]) ^ S7(z[0x7]) ^ S8(z[0x6]) ^ S5(z[0x2]);
        k[1] = S5(z[0xA]) ^ S6(z[0xB]) ^ S7(z[0x5]) ^ S8(z[0x4]) ^ S6(z[0x6]);
        k[2] = S5(z[0xC]) ^ S6(z[0xD]) ^ S7(z[0x3]) ^ S8(z[0x2]) ^ S7(z[0x9]);
        k[3] = S5(z[0xE]) ^ S6(z[0xF]) ^ S7(z[0x1]) ^ S8(z[0x0]) ^ S8(z[0xC]);
        zToX();
        k[4] = S5(x[0x3]) ^ S6(x[0x2]) ^ S7(x[0xC]) ^ S8(x[0xD]) ^ S5(x[0x8]);
        k[5] = S5(x[0x1]) ^ S6(x[0x0]) ^ S7(x[0xE]) ^ S8(x[0xF]) ^ S6(x[0xD]);
        k[6] = S5(x[0x7]) ^ S6(x[0x6]) ^ S7(x[0x8]) ^ S8(x[0x9]) ^ S7(x[0x3]);
        k[7] = S5(x[0x5]) ^ S6(x[0x4]) ^ S7(x[0xA]) ^ S8(x[0xB]) ^ S8(x[0x7]);
        xToZ();
        k[8] = S5(z[0x3]) ^ S6(z[0x2]) ^ S7(z[0xC]) ^ S8(z[0xD]) ^ S5(z[0x9]);
        k[9] = S5(z[0x1]) ^ S6(z[0x0]) ^ S7(z[0xE]) ^ S8(z[0xF]) ^ S6(z[0xC]);
        k[10] = S5(z[0x7]) ^ S6(z[0x6]) ^ S7(z[0x8]) ^ S8(z[0x9]) ^ S7(z[0x2]);
        k[11] = S5(z[0x5]) ^ S6(z[0x4]) ^ S7(z[0xA]) ^ S8(z[0xB]) ^ S8(z[0x6]);
        zToX();
        k[12] = S5(x[0x8]) ^ S6(x[0x9]) ^ S7(x[0x7]) ^ S8(x[0x6]) ^ S5(x[0x3]);
        k[13] = S5(x[0xA]) ^ S6(x[0xB]) ^ S7(x[0x5]) ^ S8(x[0x4]) ^ S6(x[0x7]);
        k[14] = S5(x[0xC]) ^ S6(x[0xD]) ^ S7(x[0x3]) ^ S8(x[0x2]) ^ S7(x[0x8]);
        k[15] = S5(x[0xE]) ^ S6(x[0xF]) ^ S7(x[0x1]) ^ S8(x[0x0]) ^ S8(x[0xD]);
    }
}

}  // namespace

CCastCipher::CCastCipher() { SetKey(nullptr); }

int CCastCipher::SetKey(const char* password) {
    std::memset(m_keyBytes, 0, sizeof m_keyBytes);
    if (password != nullptr) {
        for (size_t i = 0; i < sizeof m_keyBytes && password[i] != '\0'; ++i)
            m_keyBytes[i] = static_cast<uint8_t>(password[i]);
    }
    return SetKeyBytes(m_keyBytes);
}

int CCastCipher::SetKeyBytes(const uint8_t* key16) {
    std::memmove(m_keyBytes, key16, sizeof m_keyBytes);
    uint32_t k[32];
    Schedule(m_keyBytes, k);
    for (int i = 0; i < 16; ++i) {
        m_km[i] = k[i];
        m_kr[i] = k[16 + i] & 31;
    }
    return 1;
}

int CCastCipher::EncryptBlock(uint8_t* out, const uint8_t* in) const {
    uint8_t block[8];
    std::memcpy(block, in, 8);
    cast::CryptScalar<false, 1>(m_km, m_kr, block);
    std::memcpy(out, block, 8);
    return 1;
}

int CCastCipher::DecryptBlock(uint8_t* out, const uint8_t* in) const {
    uint8_t block[8];
    std::memcpy(block, in, 8);
    cast::CryptScalar<true, 1>(m_km, m_kr, block);
    std::memcpy(out, block, 8);
    return 1;
}

void CCastCipher::EncryptBlocks(uint8_t* data, size_t bytes) const {
    cast::CryptBlocks(false, m_km, m_kr, data, bytes / 8);
}

void CCastCipher::DecryptBlocks(uint8_t* data, size_t bytes) const {
    cast::CryptBlocks(true, m_km, m_kr, data, bytes / 8);
}

}  // namespace kelto
