find_package(RapidJSON REQUIRED)
find_package(simdjson REQUIRED)
find_package(nlohmann_json REQUIRED)
kaldro_add_bench(bench_json SOURCES json_bench.cpp LIBS simdjson::simdjson nlohmann_json::nlohmann_json)
