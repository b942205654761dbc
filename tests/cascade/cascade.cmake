# Cascade dynamics: slot operations, Kuramoto steps and the parallel sector dispatch.
file(GLOB cascade_tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
kaldro_add_test_suite(test_cascade SOURCES ${cascade_tests})
