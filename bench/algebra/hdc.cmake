kaldro_add_bench(bench_hdc SOURCES hdc_bench.cpp)
