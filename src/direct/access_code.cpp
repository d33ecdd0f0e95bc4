// The access code of the radio's programming mode built into the program, sent when none is
// supplied at run time (the front ends put a supplied one into the plan):
// cmake -DTVX_ACCESS_CODE=0x12,0x34,0x56,0x78 (the radio's own four bytes).
#include "direct/protocol.h"

#ifndef TVX_ACCESS_CODE
#error "TVX_ACCESS_CODE is set by the build (see the top-level CMakeLists.txt)"
#endif

namespace tvx::direct {

const std::array<std::uint8_t, 4> kAccessCode = {TVX_ACCESS_CODE};

}  // namespace tvx::direct
