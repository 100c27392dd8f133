// The constant substitution boxes of CAST-128, shared by every key.
#pragma once

#include <cstdint>

namespace kelto::cast {

// kSBox[0..3] are S1..S4 (rounds), kSBox[4..7] are S5..S8 (key schedule).
// One array, so that the round code reaches all four boxes from one base.
extern const uint32_t kSBox[8][256];

}  // namespace kelto::cast
