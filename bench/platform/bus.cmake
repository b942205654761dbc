find_package(PkgConfig REQUIRED)
pkg_check_modules(ZMQ REQUIRED IMPORTED_TARGET libzmq)
find_package(Threads REQUIRED)
kaldro_add_bench(bench_bus SOURCES bus_bench.cpp LIBS PkgConfig::ZMQ Threads::Threads)
