kaldro_add_bench(bench_cascade SOURCES cascade_bench.cpp)
