kaldro_add_bench(bench_toml SOURCES toml_bench.cpp)
