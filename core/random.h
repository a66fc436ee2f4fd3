// The pseudo-random generator every operation uses, so that noise and the
// blend tables come out the same on every machine: the classic linear
// congruential generator with a 15-bit output (0..32767).
#pragma once

#include <cstdint>

inline constexpr int KERV_RAND_MAX = 32767;

void KervSrand(uint32_t seed);
int KervRand();
