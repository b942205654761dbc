#!/bin/sh
# Writes the seed corpora of the fuzz targets into DIR/<target>/ (one small file per
# seed): typical documents, edge cases and a few inputs near the limits.
# Usage: make_corpus.sh DIR
set -e
out="$1"
[ -n "$out" ] || { echo "usage: $0 DIR" >&2; exit 2; }
seed() { # target name content (printf format)
  mkdir -p "$out/$1"
  printf "$3" > "$out/$1/$2"
}

seed fuzz_json obj '{"schema": "kaldro://schema/genome/v1", "leaf_dim": 8, "chromosomes": [{"label": "a", "byte_offset": 0, "cap_sha256": "%064d"}]}'
seed fuzz_json nums '[0, -1, 9223372036854775807, -9223372036854775808, 99999999999999999999, 1.5, -0.0, 1e308, 2.5e-310, 1.2.3]'
seed fuzz_json strings '["", "a\\"b\\\\c\\/d", "\\b\\f\\n\\r\\t", "\\u0041\\u00e9\\u20ac\\ud83d\\ude00", "\\u0000x"]'
seed fuzz_json nested '[[[[[[[[[[[[[[[[{"a": [{"b": {}}]}]]]]]]]]]]]]]]]]'
seed fuzz_json dupkeys '{"b": 1, "a": 2, "b": 3, "": null, "ab": true, "a\\u0000z": false}'
seed fuzz_json scalar ' "x" '
seed fuzz_json bad '{"a" 1}'
seed fuzz_json deep "$(i=0; while [ $i -lt 64 ]; do printf '['; i=$((i+1)); done)"

seed fuzz_toml config '[hermitian]\nmax_nodes = 4096\n'
seed fuzz_toml dotted 'hermitian.max_nodes = 1_000 # limit\n'
seed fuzz_toml arrays 'a = [1 2 3]\nb = [1, "two", 3.0e2, [true, false], {x = 1, y = "z"},]\n'
seed fuzz_toml aot '[[item]]\nname = "a"\n[[item]]\nname = '"'"'b\\\\c'"'"'\n[item.sub]\nv = -9223372036854775808\n'
seed fuzz_toml strings 's = "tab\\t\\u00e9"\nm = """\nline one\r\nline two"""\nl = '"'"''"'"''"'"'\nraw \\n'"'"''"'"''"'"'\n'
seed fuzz_toml floats 'f = [1., .5, -2.5e-3, +1E10, 0.0]\n'
seed fuzz_toml bad 'a = 1\na = 2\n'

seed fuzz_ndjson lines '{"a": 1}\n{"b": 2}\r\n\n\r\n{"c": 3}'
seed fuzz_ndjson empty ''
seed fuzz_ndjson crs '\r\r\n\r\nx\r'

seed fuzz_hamming r3 '\001\000\001\001\000\001\000\001'
seed fuzz_hamming r4 '\002\001\001\001\001\001\001\001\001\001\001\001\001\001\001\001'
seed fuzz_hamming bad '\000\002\000\000'

seed fuzz_tlv value 'A\001\002\003'
seed fuzz_tlv empty 'Z'

# catalog: count, then (key length, key, value length, value) per entry, then template
seed fuzz_template hello '\002\004name\005World\001a\001A'"Hello {name}! {a}{a}}"
seed fuzz_template empty '\001\000\003xyz{}{}'
seed fuzz_template lone '\001\001k\001v{k}{'
seed fuzz_template unsorted '\023\001b\001B\001a\001A{a}{b}'

# bus: raw bytes a peer sends, frames of a 4-byte big-endian length and the payload
seed fuzz_bus one '\000\000\000\003abc'
seed fuzz_bus two '\000\000\000\001x\000\000\000\000'
seed fuzz_bus declined '\000\000\000\002Xy\000\000\000\001z'
seed fuzz_bus overreport '\000\000\000\001O'
seed fuzz_bus oversized '\000\020\000\001abc'
seed fuzz_bus cut '\000\000\000\010abc'
