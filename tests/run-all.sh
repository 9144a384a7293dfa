#!/usr/bin/env bash
# Builds the tool and runs the whole test suite twice: a normal build with
# g++, and a clang build under AddressSanitizer and UndefinedBehaviorSanitizer.
# As root on Debian it first installs what the suite needs.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake make g++ clang libclang-rt-14-dev libgtest-dev ffmpeg dpkg-dev file lintian groff-base
          gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-base-apps
          gstreamer1.0-plugins-good gstreamer1.0-libav)
if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
  missing=()
  for p in "${packages[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
  if [ ${#missing[@]} -gt 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
fi

jobs=$(nproc)
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ >/dev/null
cmake --build build/release -j"$jobs"
ctest --test-dir build/release --output-on-failure -j"$jobs"

cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DMORVAK_SANITIZE=ON -DMORVAK_FUZZ=ON >/dev/null
cmake --build build/asan -j"$jobs"
ctest --test-dir build/asan --output-on-failure -j"$jobs"
