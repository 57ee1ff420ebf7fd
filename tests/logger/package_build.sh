#!/usr/bin/env bash
# Builds the Debian packages as they are shipped, for the package tests: a Release build of only
# the packaged programs, with Debian's hardening flags (dpkg-buildflags, hardening=+all), in a
# build folder of its own beside the test build (the test build's sanitizers must not reach a
# package), then CPack: quorna, quorna-logger and quorna-metersim in OUT-DIR.
#   package_build.sh SOURCE-DIR BUILD-DIR OUT-DIR
# The folder BUILD-DIR/package-build is kept, so that a second run only rebuilds what changed
# (and ccache serves a fresh one).
set -euo pipefail
src=$1
build=$2/package-build
out=$3
mkdir -p "$build"
# dpkg-buildflags maps the folder it runs in away from the debugging paths: the source folder.
cd "$src"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# Warnings are the test build's business (-Werror there): _FORTIFY_SOURCE adds warnings of its own
# (an unused result of ftruncate) that must not stop a package.
# No debugging information: CPack strips the programs anyway, and it halves the compile time.
cxxflags=$(dpkg-buildflags --get CXXFLAGS | sed -E 's/(^| )-g( |$)/ /')
cppflags=$(dpkg-buildflags --get CPPFLAGS)
ldflags=$(dpkg-buildflags --get LDFLAGS)
export CCACHE_BASEDIR="$src" CCACHE_NOHASHDIR=1
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
  -DCMAKE_CXX_FLAGS="$cppflags $cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DCMAKE_STRIP="$(dirname "$(readlink -f "$0")")/package_strip.sh" -DQUORNA_BUILD_TESTS=OFF -DQUORNA_SANITIZE=OFF -DQUORNA_WERROR=OFF >"$build/configure.log" 2>&1 \
  || { cat "$build/configure.log"; exit 1; }
start=$(date +%s)
cmake --build "$build" -j2 >"$build/build.log" 2>&1 || { tail -50 "$build/build.log"; exit 1; }
echo "package build: $(( $(date +%s) - start )) s"
rm -rf "$out"
cpack --config "$build/CPackConfig.cmake" -B "$out" >"$build/cpack.log" 2>&1 || { cat "$build/cpack.log"; exit 1; }
rm -rf "$out/_CPack_Packages"
ls "$out"
