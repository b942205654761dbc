// The tier for processors with AVX2, FMA and BMI2: the same bodies, with fused
// multiply-adds and wide products as single instructions.
#define KALDRO_TIER_NS avx2
#include "elementary/tier.inc"
