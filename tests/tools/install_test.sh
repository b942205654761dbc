#!/bin/sh
# Installs the build into a temporary prefix, then builds the examples against the
# installed library twice, through pkg-config and through find_package(kaldro), and runs
# them: a genome round trip and a JSON canonicaliser. Also checks the installed files:
# the header, the shared library with its SONAME links, the tool and its manual page.
# Usage: install_test.sh BUILD_DIR EXAMPLES_DIR [EXTRA_C_FLAGS]
set -eu
build="$1"
examples="$2"
extra="${3:-}"
work="$(mktemp -d /tmp/kaldro-install-XXXXXX)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" >"$work/install.log"

fail() { echo "install test: $*" >&2; exit 1; }
libdir=""
for d in "$prefix"/lib "$prefix"/lib64 "$prefix"/lib/*-linux-gnu; do
  [ -e "$d/libkaldro.so" ] && libdir="$d"
done
[ -n "$libdir" ] || fail "no libkaldro.so under $prefix"
[ -f "$prefix/include/kaldro.h" ] || fail "kaldro.h not installed"
[ -L "$libdir/libkaldro.so" ] || fail "libkaldro.so is not a link"
[ -L "$libdir/libkaldro.so.3" ] || fail "libkaldro.so.3 is not a link"
[ "$(readlink "$libdir/libkaldro.so")" = "libkaldro.so.3" ] || fail "libkaldro.so does not point at the SONAME"
soname="$(objdump -p "$libdir/libkaldro.so.3" | awk '/SONAME/ {print $2}')"
[ "$soname" = "libkaldro.so.3" ] || fail "SONAME is '$soname'"
[ -x "$prefix/bin/kaldro" ] || fail "the tool is not installed"
[ -f "$prefix/share/man/man1/kaldro.1" ] || fail "the manual page is not installed"
[ -f "$libdir/pkgconfig/kaldro.pc" ] || fail "kaldro.pc not installed"
[ -f "$libdir/cmake/kaldro/kaldroConfig.cmake" ] || fail "kaldroConfig.cmake not installed"

# The installed tool finds the installed library (its run path is relative).
"$prefix/bin/kaldro" --version | grep -q '^kaldro 0.8.2 (ABI 3)$' || fail "installed tool"
used="$(LD_LIBRARY_PATH= ldd "$prefix/bin/kaldro" | awk '/libkaldro/ {print $3}')"
[ "$(readlink -f "$used")" = "$(readlink -f "$libdir/libkaldro.so.3")" ] || fail "the tool uses $used, not the installed library"

run_examples() {
  bin="$1"
  mkdir "$work/genome-$2"
  "$bin/genome_roundtrip" "$work/genome-$2" >"$work/out-$2" || fail "$2: genome_roundtrip failed"
  grep -q "^chromosome beta: 24 bytes, cap verified$" "$work/out-$2" || fail "$2: genome_roundtrip output"
  "$prefix/bin/kaldro" genome verify --quiet "$work/genome-$2" || fail "$2: the example's genome does not verify"
  printf '{"b": [1, 2], "a": {"y": null, "x": true}}' | "$bin/json_canon" >"$work/canon-$2"
  [ "$(cat "$work/canon-$2")" = '{"a": {"x": true, "y": null}, "b": [1, 2]}' ] || fail "$2: json_canon output"
  if printf '{"a": ' | "$bin/json_canon" >/dev/null 2>&1; then fail "$2: json_canon accepted a broken document"; fi
}

# Through pkg-config: the .pc file is relocatable, so the temporary prefix works.
PKG_CONFIG_PATH="$libdir/pkgconfig"
export PKG_CONFIG_PATH
[ "$(pkg-config --modversion kaldro)" = "0.8.2" ] || fail "pkg-config version"
mkdir "$work/pc"
for ex in genome_roundtrip json_canon; do
  # shellcheck disable=SC2046
  cc -std=c99 -Wall -Wextra -Werror -pedantic $extra $(pkg-config --cflags kaldro) \
     "$examples/$ex.c" -o "$work/pc/$ex" $(pkg-config --libs kaldro) \
     -Wl,-rpath,"$(pkg-config --variable=libdir kaldro)" || fail "pkg-config build of $ex"
done
run_examples "$work/pc" pc

# Through the CMake package.
cmake -S "$examples" -B "$work/cm" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="$extra" \
      >"$work/cmake.log" 2>&1 || { cat "$work/cmake.log" >&2; fail "configuring the examples"; }
cmake --build "$work/cm" >"$work/build.log" 2>&1 || { cat "$work/build.log" >&2; fail "building the examples"; }
run_examples "$work/cm" cmake
echo "install test: header, library, tool, manual page, pkg-config and CMake package all work"
