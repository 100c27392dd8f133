// The CAST-128 rounds, shared by the single-block calls and the bulk passes.
// Internal to src/crypto.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/cast_sboxes.h"

namespace kelto::cast {

#if defined(__GNUC__)
#define KELTO_CAST_INLINE inline __attribute__((always_inline))
#else
#define KELTO_CAST_INLINE inline
#endif

KELTO_CAST_INLINE uint32_t Rotl(uint32_t v, uint32_t s) { return (v << s) | (v >> ((32 - s) & 31)); }

KELTO_CAST_INLINE uint32_t LoadBE(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

KELTO_CAST_INLINE void StoreBE(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// Round function of type 1, 2 or 3 (Type 0, 1, 2 here). Ia is the most
// significant byte of I.
template <int Type>
KELTO_CAST_INLINE uint32_t F(uint32_t d, uint32_t km, uint32_t kr) {
    const uint32_t(&s)[8][256] = kSBox;
    if constexpr (Type == 0) {
        const uint32_t i = Rotl(km + d, kr);
        return ((s[0][i >> 24] ^ s[1][(i >> 16) & 255]) - s[2][(i >> 8) & 255]) + s[3][i & 255];
    } else if constexpr (Type == 1) {
        const uint32_t i = Rotl(km ^ d, kr);
        return ((s[0][i >> 24] - s[1][(i >> 16) & 255]) + s[2][(i >> 8) & 255]) ^ s[3][i & 255];
    } else {
        const uint32_t i = Rotl(km - d, kr);
        return ((s[0][i >> 24] + s[1][(i >> 16) & 255]) ^ s[2][(i >> 8) & 255]) - s[3][i & 255];
    }
}

// Step 0..15 of a pass. The halves swap roles each step instead of moving:
// even steps update a from b, odd steps b from a. Decryption walks the
// rounds backwards; both end with the block written as b then a.
template <bool Decrypt, int N, int Step>
KELTO_CAST_INLINE void Steps(const uint32_t* km, const uint32_t* kr, uint32_t* a, uint32_t* b) {
    if constexpr (Step < 16) {
        constexpr int round = Decrypt ? 15 - Step : Step;
        const uint32_t m = km[round];
        const uint32_t r = kr[round];
        uint32_t* x = (Step % 2 == 0) ? a : b;
        const uint32_t* y = (Step % 2 == 0) ? b : a;
#pragma GCC unroll 16
        for (int j = 0; j < N; ++j) x[j] ^= F<round % 3>(y[j], m, r);
        Steps<Decrypt, N, Step + 1>(km, kr, a, b);
    }
}

// N consecutive blocks in place, interleaved so that their rounds overlap.
template <bool Decrypt, int N>
KELTO_CAST_INLINE void CryptScalar(const uint32_t* km, const uint32_t* kr, uint8_t* blocks) {
    uint32_t a[N];
    uint32_t b[N];
#pragma GCC unroll 16
    for (int j = 0; j < N; ++j) {
        a[j] = LoadBE(blocks + 8 * j);
        b[j] = LoadBE(blocks + 8 * j + 4);
    }
    Steps<Decrypt, N, 0>(km, kr, a, b);
#pragma GCC unroll 16
    for (int j = 0; j < N; ++j) {
        StoreBE(blocks + 8 * j, b[j]);
        StoreBE(blocks + 8 * j + 4, a[j]);
    }
}

// The bulk pass over whole blocks, with the fastest code this machine runs.
void CryptBlocks(bool decrypt, const uint32_t* km, const uint32_t* kr, uint8_t* data,
                 size_t blocks);

}  // namespace kelto::cast
