// Quadruple precision for the reference computations: GCC's __float128 and libquadmath
// on x86-64; on 64-bit Arm, long double is already IEEE binary128 and the C library's
// long double functions serve.
#pragma once
#if defined(__aarch64__)
#include <cmath>
typedef long double __float128;
#define acosq acosl
#define atan2q atan2l
#define atanq atanl
#define cosq cosl
#define expq expl
#define fabsq fabsl
#define frexpq frexpl
#define ldexpq ldexpl
#define logq logl
#define powq powl
#define sinq sinl
#define sqrtq sqrtl
#else
#include <quadmath.h>
#endif
