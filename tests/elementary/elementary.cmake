# Elementary and orbital functions, autocorrelation and the exact transform: the GMP
# reference model and quadruple precision (GCC's libquadmath) as independent references.
find_library(KALDRO_GMP_LIB gmp REQUIRED)
find_library(KALDRO_QUADMATH_LIB quadmath
             HINTS ${CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES} REQUIRED)
kaldro_add_test_suite(test_elementary
  SOURCES elementary_test.cpp elementary_reference.cpp elementary_orbital_test.cpp
          elementary_signal_test.cpp
  LIBS ${KALDRO_GMP_LIB} ${KALDRO_QUADMATH_LIB})
