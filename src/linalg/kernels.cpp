// Choice of the kernel table: the x86-64-v3 loops when the processor has that level,
// the portable ones otherwise. The choice is made once and cached.
#include "frame/internal.h"
#include "linalg/linalg.h"

namespace kaldro {
namespace linalg {

const Kernels &active_kernels() {
#if defined(__x86_64__)
  static int cached = 0;  // 0 unknown, 1 portable, 2 x86-64-v3
  int tier = __atomic_load_n(&cached, __ATOMIC_RELAXED);
  if (tier == 0) {
    tier = cpu_has_x86_64_v3() ? 2 : 1;
    __atomic_store_n(&cached, tier, __ATOMIC_RELAXED);
  }
  if (tier == 2) return x86_64_v3_kernels();
#endif
  return portable_kernels();
}

}  // namespace linalg
}  // namespace kaldro
