# Genome store: save and load against a write and an OpenSSL digest of the same bytes,
# and the window read in a genome of 100 000 chromosomes.
find_package(OpenSSL REQUIRED)
kaldro_add_bench(bench_store SOURCES store_bench.cpp LIBS OpenSSL::Crypto)
