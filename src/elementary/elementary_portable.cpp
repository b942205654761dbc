// The portable tier of the elementary functions (fused multiply-adds through the C
// runtime's fma, which uses the hardware instruction where the processor has one).
#define KALDRO_TIER_NS portable
#include "elementary/tier.inc"
