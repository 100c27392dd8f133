// SHA-1 over the caller's input repeated a fixed number of times (ten):
// the password digest kept in the settings.
#pragma once

#include <cstdint>

namespace kelto {

class CSha1 {
public:
    CSha1();

    // Writes the 20-byte digest of input written m_repeatCount times in a row
    // and sets *outCapacity to 20. Returns 20, or 0 (nothing written) when
    // *outCapacity is below 20 or the message would pass 2^64 bits.
    // progress, when given, sees (0, repeat) first, (i, repeat) after the
    // i-th copy of the input and (0, repeat) once the digest is out.
    int Digest(uint8_t* out, uint32_t* outCapacity, const uint8_t* input, uint32_t inputLength,
               void (*progress)(int index, int repeat, void* user) = nullptr,
               void* user = nullptr);

private:
    void Reset();
    bool Feed(const uint8_t* data, uint32_t length);
    void Finish();
    void Compress();

    uint32_t m_h[5];
    uint32_t m_bitCountLow;
    uint32_t m_bitCountHigh;
    uint8_t m_block[64];
    int32_t m_blockFill;
    int32_t m_repeatCount;
};

}  // namespace kelto
