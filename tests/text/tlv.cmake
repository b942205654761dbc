kaldro_add_test_suite(test_tlv SOURCES tlv_test.cpp)
