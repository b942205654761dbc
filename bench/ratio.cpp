// The one formatter of comparison lines shared by every benchmark program.
#include "ratio.h"

namespace bench {

void print_ratio(const char *name, const char *peer, double library_seconds,
                 double peer_seconds) {
  std::printf("ratio %s %s %.3f\n", name, peer, peer_seconds / library_seconds);
  std::fflush(stdout);
}

}  // namespace bench
