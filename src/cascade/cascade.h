// Internal helpers shared by the cascade operations: slot-order reversal (also in
// place) used by the chiral flip, the chiral dual and the sector dispatch.
#pragma once

#include "frame/internal.h"

namespace kaldro {

// dst = src in reverse order; dst may be src itself (reversal in place), but must not
// overlap it otherwise.
void reverse_slots(const double *src, uint64_t n, double *dst);

}  // namespace kaldro
