// Parallel sector dispatch: one caller operator conjugated by each of the four slot
// symmetries (identity, negation, reversal, both), one thread per sector. A sector whose
// thread cannot be started runs on the caller's thread instead.
#include "cascade/cascade.h"

namespace {

// Per sector: does its symmetry reverse the slot order, and does it negate the values.
struct SectorSymmetry {
  int32_t reversal;  // -1 reverses
  int32_t negation;  // -1 negates
};
constexpr SectorSymmetry kSectors[4] = {{+1, +1}, {+1, -1}, {-1, +1}, {-1, -1}};

struct SectorTask {
  kaldro_cascade_operator op;
  void *ctx;
  const double *src;
  uint64_t n;
  uint32_t sector;
  double *out;      // this sector's slice of out
  double *scratch;  // this sector's slice of scratch
  kaldro_status status;
};

void negate_all(double *v, uint64_t n) {
  for (uint64_t i = 0; i < n; ++i) kaldro_cascade_reorient_f64(-1, v[i], &v[i]);
}

// out_k = S_k(op(S_k(src))), with S_k applied to a copy of src in scratch_k.
kaldro_status run_sector(const SectorTask &task) {
  const SectorSymmetry sym = kSectors[task.sector];
  const uint64_t n = task.n;
  if (n != 0) {
    for (uint64_t i = 0; i < n; ++i) task.scratch[i] = task.src[i];
    if (sym.negation < 0) negate_all(task.scratch, n);
  }
  if (sym.reversal < 0) kaldro_cascade_chiral_flip_f64(task.scratch, n, task.scratch);
  KALDRO_TRY(task.op(task.scratch, n, task.out, task.ctx));
  if (n != 0) {
    if (sym.negation < 0) negate_all(task.out, n);
    if (sym.reversal < 0) kaldro_cascade_chiral_flip_f64(task.out, n, task.out);
  }
  return KALDRO_OK;
}

void sector_entry(void *arg) {
  SectorTask *task = static_cast<SectorTask *>(arg);
  task->status = run_sector(*task);
}

}  // namespace

extern "C" {

KALDRO_API kaldro_status kaldro_cascade_parallel_sector_dispatch(
    kaldro_cascade_operator op, void *ctx, const double *src, uint64_t n, uint32_t sectors,
    double *out, double *scratch, uint64_t capacity) {
  if (op == nullptr || out == nullptr || scratch == nullptr || (src == nullptr && n != 0)) {
    return KALDRO_ERR_NULL;
  }
  if (sectors < 1 || sectors > 4) return KALDRO_ERR_INVALID;
  // sectors * n > capacity, asked without forming a product that could wrap.
  if (n > capacity / sectors) return KALDRO_ERR_CAPACITY;

  SectorTask tasks[4];
  kaldro_plat_thread threads[4];
  bool spawned[4] = {false, false, false, false};
  for (uint32_t k = 0; k < sectors; ++k) {
    tasks[k] = SectorTask{op, ctx, src, n, k, out + k * n, scratch + k * n,
                          KALDRO_ERR_RESOURCE};
  }

  if (kaldro_plat_has_threads() == 0) {
    for (uint32_t k = 0; k < sectors; ++k) KALDRO_TRY(run_sector(tasks[k]));
    return KALDRO_OK;
  }

  for (uint32_t k = 0; k < sectors; ++k) {
    if (kaldro_plat_thread_spawn(sector_entry, &tasks[k], &threads[k]) == KALDRO_OK) {
      spawned[k] = true;
    } else {
      tasks[k].status = run_sector(tasks[k]);
    }
  }
  for (uint32_t k = 0; k < sectors; ++k) {
    if (spawned[k]) kaldro_plat_thread_join(&threads[k]);
  }
  for (uint32_t k = 0; k < sectors; ++k) KALDRO_TRY(tasks[k].status);
  return KALDRO_OK;
}

}  // extern "C"
