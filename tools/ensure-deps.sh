#!/usr/bin/env bash
# Installs the build and test tools from Debian's packages when any is missing
# (as root; any other user is shown the apt-get command and the script fails).
set -euo pipefail
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v make >/dev/null || need+=(make)
command -v python3 >/dev/null || need+=(python3)
command -v nm >/dev/null || need+=(binutils)
# NumPy and pandas for Debian's own interpreter, which runs their tests.
/usr/bin/python3 -c "import numpy" 2>/dev/null || need+=(python3-numpy)
/usr/bin/python3 -c "import pandas" 2>/dev/null || need+=(python3-pandas)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev libgmock-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
[ -f /usr/include/hwy/highway.h ] || need+=(libhwy-dev)
# The fuzz targets: clang with its libFuzzer and sanitizer runtimes (the
# sanitizer builds of the test suite use g++'s own runtimes).
command -v clang++ >/dev/null || need+=(clang)
if ! command -v clang++ >/dev/null ||
   [ ! -f "$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-$(uname -m).a" ]; then
  need+=(libclang-rt-14-dev)
fi
if [ "${#need[@]}" -gt 0 ]; then
  # Only root can install; anyone else gets the command to run.
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing build tools; install them with:" >&2
    echo "  sudo apt-get install ${need[*]}" >&2
    exit 1
  fi
  echo "installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}"
fi
