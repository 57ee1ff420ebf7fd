#!/usr/bin/env bash
# Runs every test of Quorna on Debian 12: installs what is missing, builds with AddressSanitizer
# and UndefinedBehaviorSanitizer into one build tree, starts the throw-away PostgreSQL server the
# database tests use, runs CTest, then runs the fuzzers for 30 seconds each.
#   scripts/test.sh            (as root, or with sudo for the package installation)
# QUORNA_TEST_BUILD_DIR names the build tree (default: build-test in the checkout).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

packages=(cmake g++ make pkg-config ccache libgtest-dev libgmock-dev qt6-base-dev libgl-dev
          unixodbc unixodbc-dev libsqliteodbc odbc-postgresql postgresql libmodbus-dev mbpoll
          sqlite3 libsqlite3-dev socat procps fonts-dejavu-core clang libclang-rt-14-dev python3 dpkg-dev file
          python3-pymodbus python3-serial python3-serial-asyncio lintian appstream libcivetweb-dev prometheus
          chromium)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

build="${QUORNA_TEST_BUILD_DIR:-$root/build-test}"
# Compiler cache hits across checkouts of the same tree.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
cmake -S "$root" -B "$build" -DQUORNA_SANITIZE=ON -DQUORNA_WERROR=ON \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" >/dev/null
cmake --build "$build" -j"$(nproc)"

# The database tests reach SQLite and a PostgreSQL server of their own through unixODBC. The
# server runs under an unprivileged account when we are root, so its folder lies under /tmp.
odbc_dir=$(mktemp -d /tmp/quorna-odbc.XXXXXX)
"$root/scripts/odbc-test-env.sh" start "$odbc_dir" > "$odbc_dir/env.sh"
trap '"$root/scripts/odbc-test-env.sh" stop "$odbc_dir" >/dev/null 2>&1 || true; rm -rf "$odbc_dir"' EXIT
# shellcheck disable=SC1091
. "$odbc_dir/env.sh"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$build" --output-on-failure -j2 --timeout 600

# The fuzzers, 30 seconds each from their seed corpus, when clang is at hand.
if command -v clang++ >/dev/null 2>&1; then
  bash "$root/scripts/fuzz.sh" 30
else
  echo "clang++ not found: the fuzzers were not run"
fi
