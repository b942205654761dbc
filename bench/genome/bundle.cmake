# Chromosome bundles: export and import of a 64 MiB chromosome against writing and
# digesting the same bytes, and explode and pack of a genome of 10 000 chromosomes.
find_package(OpenSSL REQUIRED)
kaldro_add_bench(bench_bundle SOURCES bundle_bench.cpp LIBS OpenSSL::Crypto)
