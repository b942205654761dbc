kaldro_add_bench(bench_search SOURCES search_bench.cpp)
