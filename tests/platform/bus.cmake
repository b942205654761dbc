kaldro_add_test_suite(test_bus
  SOURCES bus_stream_test.cpp bus_server_test.cpp bus_hostile_test.cpp)
# Sustained use in its own binary: 100 000 requests and 10 000 connections in sequence.
kaldro_add_test_suite(test_bus_load
  SOURCES bus_load_test.cpp)
