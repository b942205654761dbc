/* json_canon: reads a JSON document from standard input (or the file named on the
 * command line) and prints its canonical form: members sorted by key, fixed separators
 * and number forms, no indentation. Built against the installed libkaldro. */
#include <kaldro.h>

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char **argv) {
  FILE *in = argc > 1 ? fopen(argv[1], "rb") : stdin;
  if (in == NULL) {
    perror(argv[1]);
    return 1;
  }
  size_t cap = 1 << 16, len = 0, got;
  unsigned char *text = malloc(cap);
  while (text != NULL && (got = fread(text + len, 1, cap - len, in)) > 0) {
    len += got;
    if (len == cap) text = realloc(text, cap *= 2);
  }
  if (in != stdin) fclose(in);
  if (text == NULL) return 1;

  /* The parser needs at most a few dozen bytes of arena per input byte. */
  uint64_t arena_bytes = 64 * (uint64_t)len + 4096;
  void *arena = malloc(arena_bytes);
  const kaldro_json_node *root = NULL;
  kaldro_status st = kaldro_json_parse(text, len, arena, arena_bytes, &root);
  if (st != KALDRO_OK) {
    fprintf(stderr, "json_canon: not a JSON document (status %d)\n", (int)st);
    return 2;
  }
  uint64_t ws_bytes = kaldro_json_write_arena_bytes(root), out_len = 0;
  void *ws = malloc(ws_bytes);
  st = kaldro_json_write_ws(root, NULL, 0, &out_len, ws, ws_bytes); /* length query */
  char *out = malloc(out_len + 1);
  if (st != KALDRO_OK && st != KALDRO_ERR_CAPACITY) return 2;
  st = kaldro_json_write_ws(root, out, out_len, &out_len, ws, ws_bytes);
  if (st != KALDRO_OK) return 2;
  fwrite(out, 1, out_len, stdout);
  putchar('\n');
  free(out);
  free(ws);
  free(arena);
  free(text);
  return 0;
}
