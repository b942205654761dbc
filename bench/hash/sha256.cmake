find_package(OpenSSL REQUIRED)
kaldro_add_bench(bench_sha256 SOURCES sha256_bench.cpp LIBS OpenSSL::Crypto)
