kaldro_add_test_suite(test_bus
  SOURCES bus_stream_test.cpp bus_server_test.cpp)
