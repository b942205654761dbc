// Mechanisms every subsystem shares: status plumbing, the one fused multiply-add helper,
// workspace carving, processor feature flags and hex text. Internal: nothing here is
// exported, and every subsystem uses these rather than writing its own.
#pragma once

#include <kaldro.h>

#include <cstddef>
#include <cstdint>

// Returns the status of `expr` from the enclosing function unless it is KALDRO_OK.
#define KALDRO_TRY(expr)                                  \
  do {                                                    \
    const kaldro_status kaldro_try_status_ = (expr);      \
    if (kaldro_try_status_ != KALDRO_OK) return kaldro_try_status_; \
  } while (0)

namespace kaldro {

// fma(a, b, c): a * b + c with one rounding. The library is compiled with
// -ffp-contract=off, so this is the only place a fused operation comes from; in files
// built with FMA enabled it is one instruction.
[[gnu::always_inline]] inline double fused(double a, double b, double c) {
  return __builtin_fma(a, b, c);
}

// Rounds x up to a multiple of align (a power of two); saturates instead of wrapping.
constexpr uint64_t align_up(uint64_t x, uint64_t align) {
  const uint64_t mask = align - 1;
  return x > UINT64_MAX - mask ? UINT64_MAX & ~mask : (x + mask) & ~mask;
}

// Front-to-back carving of a caller-supplied region. Every area starts at an offset from
// `base` that is a multiple of its alignment and is checked against `size` before use;
// nothing is ever freed.
struct Carver {
  uint8_t *base;
  uint64_t size;
  uint64_t used;

  Carver(void *region, uint64_t bytes) : base(static_cast<uint8_t *>(region)), size(bytes), used(0) {}

  // Offset the next area of this alignment would start at (may exceed size).
  uint64_t next_offset(uint64_t align) const { return align_up(used, align); }
  // True when `bytes` more fit at the next `align` boundary.
  bool fits(uint64_t bytes, uint64_t align = 1) const {
    const uint64_t at = next_offset(align);
    return at <= size && bytes <= size - at;
  }
  // The area, or nullptr (and nothing consumed) when it does not fit.
  void *take(uint64_t bytes, uint64_t align = 1) {
    if (!fits(bytes, align)) return nullptr;
    const uint64_t at = next_offset(align);
    used = at + bytes;
    return base + at;
  }
  template <typename T>
  T *take_array(uint64_t count, uint64_t align = alignof(T)) {
    if (count > UINT64_MAX / sizeof(T)) return nullptr;
    return static_cast<T *>(take(count * sizeof(T), align));
  }
  uint64_t remaining() const { return used <= size ? size - used : 0; }
};

// Processor features, detected once (CPUID, and XGETBV for the vector register state).
// All false on processors other than x86-64.
enum class Cpu : uint32_t {
  sse2 = 1u << 0,
  sse41 = 1u << 1,
  avx = 1u << 2,
  avx2 = 1u << 3,
  fma = 1u << 4,
  bmi2 = 1u << 5,
  shani = 1u << 6,
  avx512f = 1u << 7,
  avx512bw = 1u << 8,
  avx512vl = 1u << 9,
  avx512vpopcntdq = 1u << 10,
  popcnt = 1u << 11,
  x86_64_v3 = 1u << 12,  // the whole x86-64-v3 level
};
bool cpu_has(Cpu feature);
// True when the x86-64-v3 level (AVX2, FMA, BMI1/2, LZCNT, MOVBE, F16C) is usable.
bool cpu_has_x86_64_v3();

// Lowercase hex text of n bytes into out[2n] (no terminator is written).
void hex_encode(const uint8_t *in, size_t n, char *out);
// Decodes 2n hex digits of either case into out[n]; false (out partly written) on a
// character outside the alphabet.
bool hex_decode(const char *in, size_t n_bytes, uint8_t *out);

}  // namespace kaldro
