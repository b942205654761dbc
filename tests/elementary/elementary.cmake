# Elementary and orbital functions, autocorrelation and the exact transform: the GMP
# reference model and quadruple precision (GCC's libquadmath) as independent references.
find_library(KALDRO_GMP_LIB gmp REQUIRED)
# On 64-bit Arm long double is binary128 itself (elementary_quad.h) and needs no library.
set(elementary_quad_libs "")
if(NOT CMAKE_SYSTEM_PROCESSOR MATCHES "aarch64|arm64")
  find_library(KALDRO_QUADMATH_LIB quadmath
               HINTS ${CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES} REQUIRED)
  set(elementary_quad_libs ${KALDRO_QUADMATH_LIB})
endif()
kaldro_add_test_suite(test_elementary
  SOURCES elementary_test.cpp elementary_reference.cpp elementary_orbital_test.cpp
          elementary_signal_test.cpp
  LIBS ${KALDRO_GMP_LIB} ${elementary_quad_libs})
