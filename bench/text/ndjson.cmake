kaldro_add_bench(bench_ndjson SOURCES ndjson_bench.cpp)
