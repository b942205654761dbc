// Timing for the comparisons of this directory: processor time of the calling thread,
// so that time spent descheduled on a shared machine counts for neither side, and the
// library and the peer measured in alternating rounds so that both see the same load.
#pragma once

#include <ctime>

namespace bench {

inline double thread_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Best seconds per call of lib and of peer over `rounds` alternating runs of `reps`
// calls each.
template <typename Lib, typename Peer>
void alternate_best(Lib &&lib, Peer &&peer, int reps, int rounds, double &lib_s, double &peer_s) {
  lib_s = peer_s = 1e300;
  for (int r = 0; r < rounds; ++r) {
    double t0 = thread_seconds();
    for (int i = 0; i < reps; ++i) lib();
    double s = (thread_seconds() - t0) / reps;
    if (s < lib_s) lib_s = s;
    t0 = thread_seconds();
    for (int i = 0; i < reps; ++i) peer();
    s = (thread_seconds() - t0) / reps;
    if (s < peer_s) peer_s = s;
  }
}

}  // namespace bench
