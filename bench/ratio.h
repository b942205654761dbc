// Comparison benchmarks: time the library and a peer on the same input in one process
// and print "ratio <name> <peer> <x>" with x = peer time / library time (above 1 means
// the library is faster).
#pragma once

#include <chrono>
#include <cstdio>

namespace bench {

// Seconds per call of fn, the best of `rounds` timed runs of `reps` calls each.
template <typename Fn>
double seconds_per_call(Fn &&fn, int reps, int rounds = 5) {
  double best = 1e300;
  for (int r = 0; r < rounds; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < reps; ++i) fn();
    const auto t1 = std::chrono::steady_clock::now();
    const double s = std::chrono::duration<double>(t1 - t0).count() / reps;
    if (s < best) best = s;
  }
  return best;
}

// Prints the ratio line for one comparison.
void print_ratio(const char *name, const char *peer, double library_seconds,
                 double peer_seconds);

}  // namespace bench
