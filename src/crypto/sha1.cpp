#include "crypto/sha1.h"

#include <algorithm>
#include <cstring>

namespace kelto {

namespace {

inline uint32_t Rotl(uint32_t v, int s) { return (v << s) | (v >> (32 - s)); }

}  // namespace

CSha1::CSha1() : m_repeatCount(10) { Reset(); }

void CSha1::Reset() {
    m_h[0] = 0x67452301;
    m_h[1] = 0xEFCDAB89;
    m_h[2] = 0x98BADCFE;
    m_h[3] = 0x10325476;
    m_h[4] = 0xC3D2E1F0;
    m_bitCountLow = 0;
    m_bitCountHigh = 0;
    m_blockFill = 0;
    std::memset(m_block, 0, sizeof m_block);
}

int CSha1::Digest(uint8_t* out, uint32_t* outCapacity, const uint8_t* input,
                  uint32_t inputLength, void (*progress)(int, int, void*), void* user) {
    if (out == nullptr || outCapacity == nullptr || *outCapacity < 20) return 0;
    if (input == nullptr && inputLength != 0) return 0;
    if (progress) progress(0, m_repeatCount, user);
    Reset();
    for (int i = 0; i < m_repeatCount; ++i) {
        if (!Feed(input, inputLength)) return 0;
        if (progress) progress(i, m_repeatCount, user);
    }
    Finish();
    for (int i = 0; i < 5; ++i) {
        out[4 * i] = static_cast<uint8_t>(m_h[i] >> 24);
        out[4 * i + 1] = static_cast<uint8_t>(m_h[i] >> 16);
        out[4 * i + 2] = static_cast<uint8_t>(m_h[i] >> 8);
        out[4 * i + 3] = static_cast<uint8_t>(m_h[i]);
    }
    *outCapacity = 20;
    if (progress) progress(0, m_repeatCount, user);
    return 20;
}

// Byte by byte in effect; whole runs are copied into the block at once.
bool CSha1::Feed(const uint8_t* data, uint32_t length) {
    while (length > 0) {
        const uint32_t take = std::min<uint32_t>(length, 64 - static_cast<uint32_t>(m_blockFill));
        const uint64_t count = (uint64_t{m_bitCountHigh} << 32) | m_bitCountLow;
        const uint64_t added = uint64_t{take} * 8;
        if (count + added < count) return false;  // past 2^64 bits
        std::memcpy(m_block + m_blockFill, data, take);
        m_blockFill += static_cast<int32_t>(take);
        m_bitCountLow = static_cast<uint32_t>(count + added);
        m_bitCountHigh = static_cast<uint32_t>((count + added) >> 32);
        data += take;
        length -= take;
        if (m_blockFill == 64) {
            Compress();
            m_blockFill = 0;
        }
    }
    return true;
}

void CSha1::Finish() {
    m_block[m_blockFill++] = 0x80;
    if (m_blockFill > 56) {
        std::memset(m_block + m_blockFill, 0, 64 - static_cast<size_t>(m_blockFill));
        Compress();
        m_blockFill = 0;
    }
    std::memset(m_block + m_blockFill, 0, 56 - static_cast<size_t>(m_blockFill));
    const uint32_t words[2] = {m_bitCountHigh, m_bitCountLow};
    for (int w = 0; w < 2; ++w)
        for (int i = 0; i < 4; ++i)
            m_block[56 + 4 * w + i] = static_cast<uint8_t>(words[w] >> (24 - 8 * i));
    Compress();
    std::memset(m_block, 0, sizeof m_block);
    m_blockFill = 0;
    m_bitCountLow = 0;
    m_bitCountHigh = 0;
}

void CSha1::Compress() {
    uint32_t w[80];
    for (int t = 0; t < 16; ++t) {
        const uint8_t* p = m_block + 4 * t;
        w[t] = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    }
    for (int t = 16; t < 80; ++t) w[t] = Rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

    uint32_t a = m_h[0], b = m_h[1], c = m_h[2], d = m_h[3], e = m_h[4];
    for (int t = 0; t < 80; ++t) {
        uint32_t f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDC;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6;
        }
        const uint32_t temp = Rotl(a, 5) + f + e + w[t] + k;
        e = d;
        d = c;
        c = Rotl(b, 30);
        b = a;
        a = temp;
    }
    m_h[0] += a;
    m_h[1] += b;
    m_h[2] += c;
    m_h[3] += d;
    m_h[4] += e;
}

}  // namespace kelto
