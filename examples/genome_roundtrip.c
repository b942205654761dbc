/* genome_roundtrip: saves a small genome of three chromosomes into a directory, reads one
 * chromosome back by label with its cap digest verified, and loads the whole body with
 * its digest verified. Built against the installed libkaldro. */
#include <kaldro.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define LEAF_DIM 8

/* One record: tag byte then up to LEAF_DIM - 1 bytes of content. */
static void put_record(unsigned char *at, char tag, const char *content) {
  memset(at, 0, LEAF_DIM);
  at[0] = (unsigned char)tag;
  memcpy(at + 1, content, strlen(content));
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: genome_roundtrip DIRECTORY\n");
    return 1;
  }
  const char *dir = argv[1];
  unsigned char body[9 * LEAF_DIM], the_one[LEAF_DIM];
  const char *records[9][2] = {{"C", "alpha"}, {"x", "a1"}, {"x", "a2"},
                               {"C", "beta"},  {"G", "b"},  {"x", "b1"},
                               {"C", "gamma"}, {"x", "g1"}, {"x", "g2"}};
  for (int i = 0; i < 9; ++i) put_record(body + i * LEAF_DIM, records[i][0][0], records[i][1]);
  memset(the_one, 0x11, sizeof the_one);

  /* The workspace the genome operations need for this body, its three chromosomes and
   * regions of up to three records. */
  uint64_t ws_bytes = kaldro_genome_arena_bytes(sizeof body, 3, 3 * LEAF_DIM);
  unsigned char *ws = malloc(ws_bytes);
  if (ws == NULL) {
    fprintf(stderr, "no memory for the workspace\n");
    return 2;
  }
  kaldro_status st = kaldro_genome_save(dir, body, sizeof body, LEAF_DIM, the_one,
                                        sizeof the_one, ws, ws_bytes);
  if (st != KALDRO_OK) {
    fprintf(stderr, "save failed (status %d)\n", (int)st);
    free(ws);
    return 2;
  }

  unsigned char region[9 * LEAF_DIM];
  size_t region_len = 0;
  st = kaldro_genome_window(dir, "beta", region, sizeof region, &region_len, the_one,
                            sizeof the_one, ws, ws_bytes);
  if (st != KALDRO_OK) {
    fprintf(stderr, "window failed (status %d)\n", (int)st);
    free(ws);
    return 2;
  }
  printf("chromosome beta: %llu bytes, cap verified\n", (unsigned long long)region_len);

  unsigned char loaded[sizeof body];
  size_t loaded_len = 0;
  st = kaldro_genome_load(dir, loaded, sizeof loaded, &loaded_len, the_one, sizeof the_one,
                          ws, ws_bytes);
  if (st != KALDRO_OK || loaded_len != sizeof body || memcmp(loaded, body, sizeof body)) {
    fprintf(stderr, "load failed (status %d)\n", (int)st);
    free(ws);
    return 2;
  }
  printf("body: %llu bytes, digest verified\n", (unsigned long long)loaded_len);
  free(ws);
  return 0;
}
