kaldro_add_bench(bench_integer SOURCES integer_bench.cpp)
