#!/bin/sh
# Fails when the shared library exports a symbol outside the kaldro_ prefix, exports
# nothing, or calls the system maths library's elementary functions.
lib="$1"
defined=$(nm -D --defined-only "$lib" | awk '{print $3}')
[ -n "$defined" ] || { echo "no exported symbols in $lib"; exit 1; }
stray=$(printf '%s\n' "$defined" | grep -v '^kaldro_' || true)
if [ -n "$stray" ]; then
  echo "symbols exported outside the kaldro_ prefix:"; printf '%s\n' "$stray"; exit 1
fi
maths=$(nm -D --undefined-only "$lib" | awk '{print $2}' | sed 's/@.*//' |
  grep -E '^(exp|log|sqrt|sin|cos|tan|atan|atan2|pow|exp2|log2|sincos)f?l?$' || true)
if [ -n "$maths" ]; then
  echo "the library calls the system maths library:"; printf '%s\n' "$maths"; exit 1
fi
echo "$(printf '%s\n' "$defined" | wc -l) exported symbols, all kaldro_"
