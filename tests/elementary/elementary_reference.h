// A reference model of the elementary functions for the tests, written from the rules
// with GMP: every Q61 value is an arbitrary-precision integer, every floating-point step
// an exact rational rounded once to the nearest double. Slow, and shares no code with the
// library.
#pragma once

namespace ref {

// Exact a * b + c rounded once (nearest, ties to even; subnormals included).
double fma_exact(double a, double b, double c);

double exp(double x);
double log(double x);
double sqrt(double x);
double sin(double x);
double cos(double x);
double atan(double x);
double atan2(double y, double x);

}  // namespace ref
