// Identity queries and instruction-set tier selection.
#include "frame/internal.h"

#include <cstdlib>

extern "C" {

KALDRO_API const char *kaldro_version(void) {
  static const char version[] = "0.8.2";
  return version;
}

KALDRO_API int kaldro_abi_version(void) { return 3; }

KALDRO_API int kaldro_simd_has_sse2(void) { return kaldro::cpu_has(kaldro::Cpu::sse2) ? 1 : 0; }
KALDRO_API int kaldro_simd_has_avx(void) { return kaldro::cpu_has(kaldro::Cpu::avx) ? 1 : 0; }
KALDRO_API int kaldro_simd_has_avx2(void) { return kaldro::cpu_has(kaldro::Cpu::avx2) ? 1 : 0; }
KALDRO_API int kaldro_simd_has_shani(void) { return kaldro::cpu_has(kaldro::Cpu::shani) ? 1 : 0; }

KALDRO_API int kaldro_simd_tier(const char *env_name, int default_tier, int max_tier) {
  int tier = default_tier;
  const char *forced = std::getenv(env_name);
  if (forced != nullptr) tier = std::atoi(forced);
  if (tier < 0) return 0;
  return tier < max_tier ? tier : max_tier;
}

}  // extern "C"
