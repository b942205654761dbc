#!/bin/sh
# Runs every test program of BUILD under valgrind's memcheck, JOBS at a time. Any memory
# error or definite leak makes that program fail; the run fails if any program does.
# Logs go to BUILD/valgrind/<program>.log. Usage: valgrind.sh BUILD [JOBS]
set -e
build="$1"
jobs="${2:-2}"
command -v valgrind >/dev/null || { echo "valgrind is not installed" >&2; exit 2; }
mkdir -p "$build/valgrind"
find "$build/tests" -type f -name 'test_*' -perm -u+x | sort > "$build/valgrind/programs"
[ -s "$build/valgrind/programs" ] || { echo "no test programs in $build/tests" >&2; exit 2; }
# Each program runs from its own build directory, as ctest runs it.
xargs -P "$jobs" -I{} sh -c '
  p="{}"; name=$(basename "$p"); log="'"$build"'/valgrind/$name.log"
  if (cd "$(dirname "$p")" && valgrind --quiet --error-exitcode=99 --leak-check=full \
        --errors-for-leak-kinds=definite --show-leak-kinds=definite "./$name" \
        --gtest_brief=1) >"$log" 2>&1; then
    echo "valgrind ok   $name"
  else
    echo "valgrind FAIL $name (see $log)"; exit 255
  fi' < "$build/valgrind/programs"
