#!/bin/sh
# Installs the Debian packages that the benchmarks compare the library against.
exec sh "$(dirname "$0")/../cmake/deps.sh" bench
