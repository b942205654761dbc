// The portable table of hot loops: plain scalar code, the reference every faster path
// must match bit for bit.
#include "frame/internal.h"
#include "linalg/linalg.h"

namespace kaldro {
namespace linalg {
namespace {

#include "linalg/kernels_scalar.inc"

double max_square_start(const double *y, size_t n) { return max_square_scalar(y, n, 0.0); }

const Kernels table = {
    rotate_scalar,      rotate_columns_scalar, crotate_scalar,      crotate_columns_scalar,
    rotate_pending_scalar, crotate_pending_scalar,
    chain_update_scalar, divide_scalar,        multiply_scalar,     fma3_scalar,
    axpy_scalar,        max_square_start,      sign_pattern_scalar, cmultiply_scalar,
    cmultiply_add_scalar, dot_scalar, edge_apply_scalar, record_apply_scalar,
};

}  // namespace

const Kernels &portable_kernels() { return table; }

}  // namespace linalg
}  // namespace kaldro
