// The JSON scan tiers this machine can run, for tests that check every one: the portable
// tier (0) and, where the processor has AVX2, tier 2.
#pragma once

#include <vector>

#include "frame/internal.h"

inline std::vector<int> json_tiers() {
  std::vector<int> t = {0};
#if defined(__x86_64__)
  if (kaldro::cpu_has(kaldro::Cpu::avx2)) t.push_back(2);
#endif
  return t;
}
