/* The public header compiles as strict C99 and its functions link from C. */
#include <kaldro.h>

#include <stdio.h>
#include <string.h>

int main(void) {
  uint64_t g = 0;
  kaldro_status st = kaldro_gcd(12, 18, &g);
  if (st != KALDRO_OK || g != 6) return 1;
  if (strcmp(kaldro_version(), "0.8.2") != 0 || kaldro_abi_version() != 3) return 1;
  printf("C99 program linked against libkaldro %s\n", kaldro_version());
  return 0;
}
