#!/usr/bin/env bash
# Builds the Debian package (a Release build without suites or benchmarks) and checks it: the
# files it holds and where, its Depends field, the desktop entry, AppStream metainfo, icons and
# manual page as a desktop reads them, and the programs unpacked into a throw-away root.
#   scripts/package-check.sh SOURCE_DIR BUILD_DIR
# Called by `scripts/station.sh test-package`, which installs the build and checking tools first.
set -euo pipefail

ROOT="$1"
BUILD="$2"
JOBS="$(nproc 2>/dev/null || echo 2)"
APP_ID="org.quorbus.Station"
LIBDIR="usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)"

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

# Every file the package must hold, and nothing else.
expected_files() {
  echo "./usr/bin/quor_station"
  echo "./$LIBDIR/quor-station/libquorsim_visa.so"
  echo "./usr/share/applications/$APP_ID.desktop"
  echo "./usr/share/metainfo/$APP_ID.metainfo.xml"
  echo "./usr/share/man/man1/quor_station.1.gz"
  echo "./usr/share/doc/quor-station/copyright"
  echo "./usr/share/doc/quor-station/changelog.gz"
  echo "./usr/share/icons/hicolor/scalable/apps/$APP_ID.svg"
  for size in 16 22 24 32 48 64 128 256; do
    echo "./usr/share/icons/hicolor/${size}x${size}/apps/$APP_ID.png"
  done
}

# The libraries of the station that dpkg-shlibdeps must have found.
REQUIRED_DEPENDS=(libqt6widgets6 libqt6gui6 libqt6core6 libqt6printsupport6 libqt6sql6-sqlite
                  libstdc++6 libc6)

check_contents() {
  local deb="$1"
  local listed
  listed="$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)"
  local missing unexpected
  missing="$(comm -23 <(expected_files | sort) <(echo "$listed"))"
  unexpected="$(comm -13 <(expected_files | sort) <(echo "$listed"))"
  [[ -z "$missing" ]] && pass "every file is in the package" || fail "missing from the package: $missing"
  [[ -z "$unexpected" ]] && pass "no other file" || fail "unexpected in the package: $unexpected"
  if dpkg-deb -c "$deb" | awk '{print $2}' | grep -qv '^root/root$'; then
    fail "files not owned by root"
  fi
}

check_depends() {
  local deb="$1"
  local depends
  depends="$(dpkg-deb -f "$deb" Depends)"
  echo "Depends: $depends"
  # One package name a line, without versions or alternatives' bars.
  local names
  names="$(sed 's/[,|]/\n/g' <<<"$depends" | sed 's/^ *//;s/ .*//' | grep -v '^$')"
  local package
  for package in "${REQUIRED_DEPENDS[@]}"; do
    if grep -qxF "$package" <<<"$names"; then
      pass "depends on $package"
    else
      fail "Depends lacks $package"
    fi
  done
  # Every entry is a package this system knows (no path, nothing from the build tree).
  while IFS= read -r package; do
    if [[ ! "$package" =~ ^[a-z0-9][a-z0-9+.-]+$ ]]; then
      fail "Depends entry is not a package name: $package"
    elif ! dpkg-query -W "$package" >/dev/null 2>&1; then
      fail "Depends names $package, which is not installed here to build with"
    fi
  done <<<"$names"
  if grep -Fq -e "$BUILD" -e "$ROOT" -e quor <<<"$depends"; then
    fail "Depends mentions the build: $depends"
  fi
}

# The unpacked files as a desktop reads them.
check_desktop_files() {
  local root="$1" version="$2"
  local desktop="$root/usr/share/applications/$APP_ID.desktop"
  local metainfo="$root/usr/share/metainfo/$APP_ID.metainfo.xml"
  desktop-file-validate "$desktop" && pass "desktop-file-validate" || fail "desktop-file-validate"
  appstreamcli validate --no-net "$metainfo" && pass "appstreamcli validate" \
    || fail "appstreamcli validate"

  local exec_name icon_name
  exec_name="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")"
  icon_name="$(sed -n 's/^Icon=//p' "$desktop")"
  [[ -x "$root/usr/bin/$exec_name" ]] && pass "Exec=$exec_name is in /usr/bin" \
    || fail "the desktop entry starts $exec_name, which the package does not hold"
  [[ "$icon_name" == "$APP_ID" ]] && pass "Icon=$icon_name" || fail "the desktop entry's icon is $icon_name"
  grep -q "<launchable type=\"desktop-id\">$APP_ID.desktop</launchable>" "$metainfo" \
    && pass "the metainfo launches the desktop entry" || fail "the metainfo names another desktop entry"
  grep -q "<release version=\"$version\"" "$metainfo" && pass "the metainfo's release is $version" \
    || fail "the metainfo has no release $version"

  local png size count=0
  for png in "$root"/usr/share/icons/hicolor/*x*/apps/"$icon_name".png; do
    count=$((count + 1))
    size="$(basename "$(dirname "$(dirname "$png")")")"
    if file -b "$png" | grep -q "PNG image data, ${size/x/ x }"; then
      pass "icon $size"
    else
      fail "icon $png is not a $size PNG: $(file -b "$png")"
    fi
  done
  ((count == 8)) || fail "$count PNG sizes of the icon $icon_name, not 8"
  file -b "$root/usr/share/icons/hicolor/scalable/apps/$icon_name.svg" | grep -q "SVG" \
    && pass "icon scalable" || fail "the scalable icon is not an SVG"
}

check_manual_page() {
  local page="$1/usr/share/man/man1/quor_station.1.gz"
  local warnings text option
  warnings="$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null || true)"
  [[ -z "$warnings" ]] && pass "the manual page renders without warnings" \
    || fail "manual page warnings: $warnings"
  text="$(MANWIDTH=200 man -l "$page" 2>/dev/null)"
  # Every option the installed program's --help lists: both are made from its one table of
  # options, so this holds for the package as built.
  local options
  options="$(QT_QPA_PLATFORM=offscreen timeout 20 "$1/usr/bin/quor_station" --help \
    | grep -oE '^  (-[a-zA-Z], )?--[a-z-]+' | sed -E 's/^ +(-[a-zA-Z], )?//')"
  [[ -n "$options" ]] || fail "quor_station --help lists no option"
  for option in $options; do
    grep -Eq "^ +(-[a-zA-Z], )?$option( |$)" <<<"$text" && pass "the manual page describes $option" \
      || fail "the manual page does not describe $option"
  done
  grep -q "/$LIBDIR/quor-station/libquorsim_visa.so" <<<"$text" \
    && pass "the manual page names where the simulated chassis is" \
    || fail "the manual page names another place for the simulated chassis"
}

# The programs as installed: every library resolves, no run path into the build tree, and the
# simulated chassis exports the VISA functions the loader binds.
check_programs() {
  local root="$1"
  local binary
  for binary in "$root/usr/bin/quor_station" "$root/$LIBDIR/quor-station/libquorsim_visa.so"; do
    if ldd "$binary" | grep -q "not found"; then
      fail "$(basename "$binary") has unresolved libraries: $(ldd "$binary" | grep "not found")"
    else
      pass "ldd resolves every library of $(basename "$binary")"
    fi
    if readelf -d "$binary" | grep -Eq "R(UN)?PATH"; then
      fail "$(basename "$binary") carries a run path: $(readelf -d "$binary" | grep -E "R(UN)?PATH")"
    fi
  done
  local exported function
  exported="$(nm -D --defined-only "$root/$LIBDIR/quor-station/libquorsim_visa.so" | awk '{print $3}')"
  for function in viOpenDefaultRM viFindRsrc viFindNext viOpen viClose viGetAttribute \
                  viSetAttribute viWrite viRead viStatusDesc viIn16 viOut16 viMoveIn16 viMoveOut16 \
                  quor_sim_chassis_marker; do
    grep -qx "$function" <<<"$exported" || fail "libquorsim_visa.so does not export $function"
  done
  pass "libquorsim_visa.so exports the VISA functions"
}

# `quor_station --version` prints the package's version.
check_version_option() {
  local root="$1" version="$2" printed
  printed="$(QT_QPA_PLATFORM=offscreen timeout 20 "$root/usr/bin/quor_station" --version)" \
    || { fail "quor_station --version failed"; return; }
  grep -qF "$version" <<<"$printed" && pass "quor_station --version prints $version" \
    || fail "quor_station --version printed \"$printed\", not $version"
}

# Built with the distribution's hardening flags, as a Debian package is.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
HARDENED_CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
HARDENED_LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DQUOR_BUILD_TESTS=OFF -DQUOR_BUILD_BENCH=OFF -DQUOR_BUILD_TOOLS=OFF -DQUOR_SANITIZE=OFF \
  -DCMAKE_CXX_FLAGS="$HARDENED_CXXFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$HARDENED_LDFLAGS" \
  -DCMAKE_SHARED_LINKER_FLAGS="$HARDENED_LDFLAGS"
cmake --build "$BUILD" -j"$JOBS"
rm -rf "$BUILD/package"
(cd "$BUILD" && cpack)

shopt -s nullglob
debs=("$BUILD"/package/quor-station_*_amd64.deb)
if ((${#debs[@]} != 1)); then
  echo "FAILED: expected one quor-station_VERSION_amd64.deb in $BUILD/package" >&2
  exit 1
fi
DEB="${debs[0]}"
VERSION="$(dpkg-deb -f "$DEB" Version)"
[[ "$(basename "$DEB")" == "quor-station_${VERSION}_amd64.deb" ]] \
  && pass "package $(basename "$DEB")" || fail "package file name $(basename "$DEB")"

check_lintian() {
  local deb="$1"
  local report
  # Every tag, the informational ones too: the hardening tags are informational.
  report="$(lintian --display-info --tag-display-limit 0 "$deb" 2>&1)" || true
  if grep -qE '^[EW]: ' <<<"$report"; then
    fail "lintian reports errors or warnings:"$'\n'"$(grep -E '^[EW]: ' <<<"$report")"
  else
    pass "lintian: no error or warning"
  fi
  if grep -q 'hardening-' <<<"$report"; then
    fail "lintian says the programs are not hardened:"$'\n'"$(grep 'hardening-' <<<"$report")"
  else
    pass "lintian: hardened"
  fi
}

check_contents "$DEB"
check_lintian "$DEB"
check_depends "$DEB"

UNPACKED="$(mktemp -d)"
trap 'rm -rf "$UNPACKED"' EXIT
dpkg -x "$DEB" "$UNPACKED"
check_desktop_files "$UNPACKED" "$VERSION"
check_manual_page "$UNPACKED"
check_programs "$UNPACKED"
check_version_option "$UNPACKED" "$VERSION"

# apt resolves the package's dependencies (all present here, as the build needs them).
if apt-get install --simulate --no-install-recommends "$DEB" >/dev/null 2>&1; then
  pass "apt-get install resolves the package"
else
  fail "apt-get install --simulate: $(apt-get install --simulate "$DEB" 2>&1 | tail -3)"
fi

if ((failures > 0)); then
  echo "$failures check(s) failed for $DEB" >&2
  exit 1
fi
echo "The package $DEB passed every check."
