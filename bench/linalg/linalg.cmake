# Linear algebra against LAPACK (LAPACKE on OpenBLAS, run single-threaded).
find_library(KALDRO_LAPACKE lapacke)
find_library(KALDRO_OPENBLAS openblas)
if(KALDRO_LAPACKE AND KALDRO_OPENBLAS)
  kaldro_add_bench(bench_linalg SOURCES linalg_bench.cpp LIBS ${KALDRO_LAPACKE} ${KALDRO_OPENBLAS})
else()
  message(WARNING "liblapacke-dev and libopenblas-dev are needed for bench_linalg")
endif()
