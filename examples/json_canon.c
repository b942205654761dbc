/* json_canon: reads a JSON document from standard input (or the file named on the
 * command line) and prints its canonical form: members sorted by key, fixed separators
 * and number forms, no indentation. Built against the installed libkaldro. */
#include <kaldro.h>

#include <stdio.h>
#include <stdlib.h>

static int give_up(const char *what, kaldro_status st) {
  fprintf(stderr, "json_canon: %s (status %d)\n", what, (int)st);
  return 2;
}

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
    if (len == cap) {
      unsigned char *bigger = realloc(text, cap *= 2);
      if (bigger == NULL) free(text);
      text = bigger;
    }
  }
  if (in != stdin) fclose(in);
  if (text == NULL) return give_up("no memory for the text", KALDRO_ERR_RESOURCE);

  /* Every value costs a node and its list slots, every string its raw bytes: the parser
   * needs well under 128 bytes of arena per input byte. */
  uint64_t arena_bytes = 128 * (uint64_t)len + 8192;
  void *arena = malloc(arena_bytes);
  if (arena == NULL) return give_up("no memory for the arena", KALDRO_ERR_RESOURCE);
  kaldro_json_node *root = NULL;
  kaldro_status st = kaldro_json_parse(text, len, arena, arena_bytes, &root);
  if (st != KALDRO_OK) return give_up("not a JSON document", st);

  uint64_t ws_bytes = kaldro_json_write_arena_bytes(root), out_len = 0;
  void *ws = malloc(ws_bytes);
  if (ws == NULL) return give_up("no memory for the workspace", KALDRO_ERR_RESOURCE);
  st = kaldro_json_write_ws(root, NULL, 0, &out_len, ws, ws_bytes); /* length query */
  if (st != KALDRO_OK) return give_up("cannot write the document", st);
  char *out = malloc(out_len + 1);
  if (out == NULL) return give_up("no memory for the output", KALDRO_ERR_RESOURCE);
  st = kaldro_json_write_ws(root, out, out_len, &out_len, ws, ws_bytes);
  if (st != KALDRO_OK) return give_up("cannot write the document", st);
  fwrite(out, 1, out_len, stdout);
  putchar('\n');
  free(out);
  free(ws);
  free(arena);
  free(text);
  return 0;
}
