kaldro_add_bench(bench_loop SOURCES loop_bench.cpp)
