# Rationals, continued fractions and ordering patterns; exact references come from GMP.
find_path(GMP_INCLUDE_DIR gmp.h REQUIRED)
find_library(GMP_LIBRARY gmp REQUIRED)
kaldro_add_test_suite(test_rational SOURCES rational_test.cpp ordering_test.cpp
                      LIBS ${GMP_LIBRARY})
target_include_directories(test_rational PRIVATE ${GMP_INCLUDE_DIR})
