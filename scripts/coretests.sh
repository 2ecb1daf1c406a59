#!/usr/bin/env bash
# Builds the core's tests (tests/core/test_*.cpp with core/) natively with the
# host clang, AddressSanitizer and UndefinedBehaviorSanitizer into build/native,
# and runs them; CTest's summary comes last. Part of make test; alone:
# scripts/coretests.sh
set -euo pipefail
cd "$(dirname "$0")/.."
export MAKEFLAGS=--no-print-directory
. scripts/configure.sh
configure_tree build/native native
cmake --build build/native -j 2 >/dev/null
cd build/native && ctest --output-on-failure --timeout 60
