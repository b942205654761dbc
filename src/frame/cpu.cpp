// Processor feature detection: CPUID leaves 1 and 7, and XGETBV for the register state
// the operating system saves. Detected once; the cached word is written only with the
// same value, so concurrent first calls are harmless.
#include "frame/internal.h"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace kaldro {
namespace {

uint32_t detect() {
  uint32_t flags = 1u << 31;  // marks "detected"
#if defined(__x86_64__)
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return flags;
  if (d & bit_SSE2) flags |= uint32_t(Cpu::sse2);
  if (c & bit_SSE4_1) flags |= uint32_t(Cpu::sse41);
  if (c & bit_POPCNT) flags |= uint32_t(Cpu::popcnt);
  const bool osxsave = (c & bit_OSXSAVE) != 0;
  uint64_t xcr0 = 0;
  if (osxsave) {
    uint32_t lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    xcr0 = (uint64_t(hi) << 32) | lo;
  }
  const bool ymm = (xcr0 & 0x6) == 0x6;           // SSE and AVX state
  const bool zmm = ymm && (xcr0 & 0xe0) == 0xe0;  // opmask and ZMM state
  if (ymm && (c & bit_AVX)) flags |= uint32_t(Cpu::avx);
  if (ymm && (c & bit_FMA)) flags |= uint32_t(Cpu::fma);
  if (__get_cpuid_max(0, nullptr) >= 7) {
    __cpuid_count(7, 0, a, b, c, d);
    if (ymm && (flags & uint32_t(Cpu::avx)) && (b & bit_AVX2)) flags |= uint32_t(Cpu::avx2);
    if (b & bit_BMI2) flags |= uint32_t(Cpu::bmi2);
    if ((b & bit_SHA) && (flags & uint32_t(Cpu::sse41))) flags |= uint32_t(Cpu::shani);
    if (zmm && (b & bit_AVX512F)) {
      flags |= uint32_t(Cpu::avx512f);
      if (b & bit_AVX512BW) flags |= uint32_t(Cpu::avx512bw);
      if (b & bit_AVX512VL) flags |= uint32_t(Cpu::avx512vl);
      if (c & bit_AVX512VPOPCNTDQ) flags |= uint32_t(Cpu::avx512vpopcntdq);
    }
    // x86-64-v3: AVX2, FMA, BMI1/2, LZCNT, MOVBE and F16C together.
    const bool bmi1 = (b & bit_BMI) != 0;
    unsigned a1 = 0, b1 = 0, c1 = 0, d1 = 0, ae = 0, be = 0, ce = 0, de = 0;
    __get_cpuid(1, &a1, &b1, &c1, &d1);
    const bool movbe = (c1 & bit_MOVBE) != 0, f16c = (c1 & bit_F16C) != 0;
    const bool lzcnt = __get_cpuid(0x80000001, &ae, &be, &ce, &de) && (ce & bit_LZCNT);
    const uint32_t v3_base = uint32_t(Cpu::avx2) | uint32_t(Cpu::fma) | uint32_t(Cpu::bmi2);
    if ((flags & v3_base) == v3_base && bmi1 && movbe && f16c && lzcnt)
      flags |= uint32_t(Cpu::x86_64_v3);
  }
#endif
  return flags;
}

uint32_t features() {
  static uint32_t cached = 0;
  uint32_t f = __atomic_load_n(&cached, __ATOMIC_RELAXED);
  if (f == 0) {
    f = detect();
    __atomic_store_n(&cached, f, __ATOMIC_RELAXED);
  }
  return f;
}

}  // namespace

bool cpu_has(Cpu feature) { return (features() & uint32_t(feature)) != 0; }

bool cpu_has_x86_64_v3() { return cpu_has(Cpu::x86_64_v3); }

}  // namespace kaldro
