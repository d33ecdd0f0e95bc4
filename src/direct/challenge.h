// The challenge word that seeds the radio's serial-number masking.
#pragma once

#include <cstdint>

namespace tvx::direct {

/// r * 65534 + 1 rounded to the nearest integer (a half to the even neighbour), for a draw
/// 0 <= r < 1. Always in 1..65535, so the mask register never starts at its fixed point 0.
std::uint16_t ChallengeWord(double r);

}  // namespace tvx::direct
