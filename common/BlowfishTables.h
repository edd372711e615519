#pragma once
// The initial Blowfish state: 18 P-array words followed by the four S-boxes, all taken from the
// fractional hexadecimal digits of pi.
#include <cstdint>

extern const uint32_t kBlowfishInitP[18];
extern const uint32_t kBlowfishInitS[4][256];
