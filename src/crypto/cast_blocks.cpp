// Bulk ECB passes over a buffer of whole blocks.
#include "crypto/cast_kernel.h"

namespace kelto::cast {

namespace {

constexpr int kLanes = 6;

template <bool Decrypt>
void PassScalar(const uint32_t* km, const uint32_t* kr, uint8_t* data, size_t blocks) {
    size_t i = 0;
    for (; i + kLanes <= blocks; i += kLanes) CryptScalar<Decrypt, kLanes>(km, kr, data + 8 * i);
    for (; i < blocks; ++i) CryptScalar<Decrypt, 1>(km, kr, data + 8 * i);
}

}  // namespace

void CryptBlocks(bool decrypt, const uint32_t* km, const uint32_t* kr, uint8_t* data,
                 size_t blocks) {
    if (decrypt)
        PassScalar<true>(km, kr, data, blocks);
    else
        PassScalar<false>(km, kr, data, blocks);
}

}  // namespace kelto::cast
