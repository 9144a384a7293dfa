#!/usr/bin/env bash
# Builds the tool and runs the whole test suite twice: a normal build with
# g++, and a clang build under AddressSanitizer and UndefinedBehaviorSanitizer
# (with the fuzz targets' short runs). As root on Debian it first installs
# what the suite needs.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake make g++ clang libclang-rt-14-dev libgtest-dev ffmpeg dpkg-dev file lintian groff-base gstreamer1.0-tools
          gstreamer1.0-plugins-base gstreamer1.0-plugins-base-apps gstreamer1.0-plugins-good gstreamer1.0-libav)
if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null && ! dpkg -s "${packages[@]}" >/dev/null 2>&1; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${packages[@]}"
fi

for build in "release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++" \
             "asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DMORVAK_SANITIZE=ON -DMORVAK_FUZZ=ON"; do
  set -- $build
  cmake -S . -B "build/$1" "${@:2}" >/dev/null
  cmake --build "build/$1" -j"$(nproc)"
  ctest --test-dir "build/$1" --output-on-failure -j"$(nproc)"
done
