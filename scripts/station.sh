#!/usr/bin/env bash
# Builds and starts the Quor Bus station, or builds it and runs its suites.
#   scripts/station.sh run [OPTIONS]   install what is missing, build, start the station (with
#                                      its command-line OPTIONS, e.g. --simulate --virtual-time)
#   scripts/station.sh test            install what is missing, build, run every suite
#   scripts/station.sh test-sanitized  the same suites in the AddressSanitizer/UBSan build
#   scripts/station.sh test-package    build the Debian package (build-package/) and check it
#   scripts/station.sh test-windows    cross-build the Qt-free libraries and suites for Windows
#                                      (build-windows/) and run the suites under Wine
#   scripts/station.sh check-style     the layering of src/ and the format of every C++ file
#   scripts/station.sh test-clang      the same suites built with clang++ (build-clang/)
#   scripts/station.sh fuzz-short      build the libFuzzer targets (build-fuzz/) and run each
#                                      on its corpus for FUZZ_SECONDS (15) seconds
#   scripts/station.sh fuzz TARGET [RUNS]  one target for RUNS (10 million) executions, its new
#                                      inputs merged into its corpus (fuzz/corpus/TARGET)
#   scripts/station.sh soak [ROUNDS]   the soak (tools/soak) in the AddressSanitizer build, then
#                                      in the Release build (resident memory within 5 MB)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="$(nproc 2>/dev/null || echo 2)"

# postgresql: the throw-away server the record store's suites run against
# (scripts/test-postgres.sh); the test builds below require it, so that a missing server fails
# them rather than skipping its suites. poppler-utils: pdftotext, which the suites read the PDF
# reports back with. chromium: the browser the yield report's suite opens the report in, headless.
PACKAGES=(cmake make g++ pkg-config qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl1-mesa-dev
          libgtest-dev libbenchmark-dev fonts-liberation fontconfig locales libqt6sql6-sqlite
          libqt6sql6-psql postgresql poppler-utils chromium)

# Building and checking the Debian package: dpkg-shlibdeps, the desktop entry and AppStream
# validators, the manual page reader.
PACKAGE_TOOLS=(dpkg-dev desktop-file-utils appstream file binutils man-db lintian)

# The Windows cross build: the mingw-w64 compiler (posix threads), GoogleTest's source, and Wine
# to run the suites.
WINDOWS_PACKAGES=(cmake make file g++-mingw-w64-x86-64-posix googletest wine wine64)

# The clang build and the libFuzzer targets (libclang-rt-14-dev brings -fsanitize=fuzzer).
CLANG_PACKAGES=(clang libclang-rt-14-dev)
FUZZ_TARGETS=(fuzz_number_text fuzz_error_query fuzz_cal_reply fuzz_stamp_reply
              fuzz_non_vol_answer fuzz_command_parser fuzz_resource_expression fuzz_record_export)

# The suites also run under a comma-decimal locale, so that every number the station reads or
# writes is shown to keep "." as its decimal point.
COMMA_LOCALE="de_DE.UTF-8"

# install_missing [PACKAGE...]: the given packages, or PACKAGES.
install_missing() {
  local wanted=("$@")
  if ((${#wanted[@]} == 0)); then wanted=("${PACKAGES[@]}"); fi
  local missing=()
  for package in "${wanted[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  if ((${#missing[@]} == 0)); then return; fi
  echo "Installing: ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
}

as_root() {
  if [[ "$(id -u)" -ne 0 ]]; then sudo "$@"; else "$@"; fi
}

generate_comma_locale() {
  if locale -a 2>/dev/null | grep -qix "de_DE.utf8\|${COMMA_LOCALE}"; then return; fi
  echo "Generating the ${COMMA_LOCALE} locale"
  if grep -q "^# *${COMMA_LOCALE} UTF-8" /etc/locale.gen 2>/dev/null; then
    as_root sed -i "s/^# *\(${COMMA_LOCALE} UTF-8\)/\1/" /etc/locale.gen
  elif ! grep -q "^${COMMA_LOCALE} UTF-8" /etc/locale.gen 2>/dev/null; then
    echo "${COMMA_LOCALE} UTF-8" | as_root tee -a /etc/locale.gen >/dev/null
  fi
  as_root locale-gen
}

build() {
  local dir="$1"
  shift
  cmake -S "$ROOT" -B "$dir" "$@"
  cmake --build "$dir" -j"$JOBS"
}

build_fuzzers() {
  cmake -S "$ROOT" -B "$ROOT/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DQUOR_BUILD_FUZZ=ON -DQUOR_BUILD_TESTS=OFF \
    -DQUOR_BUILD_BENCH=OFF -DQUOR_BUILD_TOOLS=OFF
  cmake --build "$ROOT/build-fuzz" -j"$JOBS" --target quor_fuzzers
}

# run_fuzzer TARGET FLAGS...: on a scratch copy of its corpus, so the repository's stays as it
# is; a finding is written into build-fuzz/findings/.
run_fuzzer() {
  local target="$1"
  shift
  local scratch="$ROOT/build-fuzz/scratch/$target"
  rm -rf "$scratch"
  mkdir -p "$scratch" "$ROOT/build-fuzz/findings"
  cp -r "$ROOT/fuzz/corpus/$target/." "$scratch/" 2>/dev/null || true
  "$ROOT/build-fuzz/fuzz/$target" "$scratch" -artifact_prefix="$ROOT/build-fuzz/findings/$target-" \
    -print_final_stats=1 "$@"
}

run_suites() {
  local dir="$1"
  (cd "$dir" && ctest --output-on-failure -j"$JOBS")
}

case "${1:-}" in
  run)
    install_missing
    build "$ROOT/build" -DCMAKE_BUILD_TYPE=Release -DQUOR_BUILD_TESTS=OFF -DQUOR_BUILD_BENCH=OFF \
      -DQUOR_BUILD_TOOLS=OFF
    if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
      echo "The station is built ($ROOT/build/src/station/quor_station) but there is no display to"
      echo "show its windows on (neither DISPLAY nor WAYLAND_DISPLAY is set)."
      echo "Run this command again from a terminal of a graphical desktop session."
      exit 1
    fi
    exec "$ROOT/build/src/station/quor_station" "${@:2}"
    ;;
  test)
    install_missing
    generate_comma_locale
    build "$ROOT/build" -DCMAKE_BUILD_TYPE=Release -DQUOR_TEST_POSTGRESQL=ON
    run_suites "$ROOT/build"
    ;;
  test-sanitized)
    install_missing
    generate_comma_locale
    build "$ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DQUOR_SANITIZE=ON -DQUOR_BUILD_BENCH=OFF \
      -DQUOR_TEST_POSTGRESQL=ON
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
    export LSAN_OPTIONS="suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    run_suites "$ROOT/build-asan"
    ;;
  test-package)
    install_missing
    install_missing "${PACKAGE_TOOLS[@]}"
    bash "$ROOT/scripts/package-check.sh" "$ROOT" "$ROOT/build-package"
    ;;
  test-windows)
    install_missing "${WINDOWS_PACKAGES[@]}"
    bash "$ROOT/scripts/windows-check.sh" "$ROOT" "$ROOT/build-windows"
    ;;
  check-style)
    install_missing clang-format
    bash "$ROOT/scripts/check_layers.sh"
    (cd "$ROOT" && git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror)
    echo "format: ok"
    ;;
  test-clang)
    install_missing
    install_missing "${CLANG_PACKAGES[@]}"
    generate_comma_locale
    build "$ROOT/build-clang" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=clang++ \
      -DQUOR_TEST_POSTGRESQL=ON
    run_suites "$ROOT/build-clang"
    ;;
  fuzz-short)
    install_missing
    install_missing "${CLANG_PACKAGES[@]}"
    build_fuzzers
    for target in "${FUZZ_TARGETS[@]}"; do
      echo "== $target"
      run_fuzzer "$target" -max_total_time="${FUZZ_SECONDS:-15}" -timeout=10 -rss_limit_mb=2048
    done
    ;;
  fuzz)
    install_missing
    install_missing "${CLANG_PACKAGES[@]}"
    build_fuzzers
    target="${2:?which target: ${FUZZ_TARGETS[*]}}"
    run_fuzzer "$target" -runs="${3:-10000000}" -timeout=10 -rss_limit_mb=2048
    mkdir -p "$ROOT/fuzz/corpus/$target"
    "$ROOT/build-fuzz/fuzz/$target" -merge=1 "$ROOT/fuzz/corpus/$target" \
      "$ROOT/build-fuzz/scratch/$target"
    ;;
  soak)
    install_missing
    build "$ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DQUOR_SANITIZE=ON -DQUOR_BUILD_BENCH=OFF
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
    export LSAN_OPTIONS="suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    # AddressSanitizer keeps freed memory in quarantine and its own caches: the run under it
    # looks for leaks and memory errors with a loose bound; the Release run holds memory to 5 MB.
    ASAN_OPTIONS="$ASAN_OPTIONS:quarantine_size_mb=8" "$ROOT/build-asan/tools/soak/quor_soak" \
      "${2:-100}" 64
    build "$ROOT/build" -DCMAKE_BUILD_TYPE=Release
    "$ROOT/build/tools/soak/quor_soak" "${2:-100}" 5
    ;;
  *)
    echo "usage: $0 run | test | test-sanitized | test-package | test-windows | check-style |" \
      "test-clang | fuzz-short | fuzz TARGET [RUNS] | soak [ROUNDS]" >&2
    exit 2
    ;;
esac
