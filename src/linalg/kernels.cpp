// Choice of the kernel table: the x86-64-v3 loops when the processor has that level
// (detected once by the frame), the portable ones otherwise.
#include "frame/internal.h"
#include "linalg/linalg.h"

namespace kaldro {
namespace linalg {

const Kernels &active_kernels() {
#if defined(__x86_64__)
  if (cpu_has_x86_64_v3()) return x86_64_v3_kernels();
#endif
  return portable_kernels();
}

}  // namespace linalg
}  // namespace kaldro
