#!/usr/bin/env bash
# Checks the layering of src/: each folder may include only the folders below it, and the
# Qt-free folders include no Qt header. Prints every offending include and exits 1 when there is
# one. Run from anywhere; CI runs it.
#
#   visa                      standard library only
#   sim, driver               visa
#   simtime                   visa, sim, driver
#   core                      visa, driver
#   procedures                visa, driver, core
#   records                   visa, driver, core                     (Qt Core and Qt SQL only)
#   app                       visa, driver, core, procedures, records (Qt)
#   station                   everything
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../src"

declare -A allowed=(
  [visa]="visa"
  [sim]="sim visa"
  [driver]="driver visa"
  [simtime]="simtime sim driver visa"
  [core]="core driver visa"
  [procedures]="procedures core driver visa"
  [app]="app procedures records core driver visa"
  [records]="records core driver visa"
  [testing]="testing app procedures core driver simtime sim visa"
  [station]="*"
)
declare -A qt_free=([visa]=1 [sim]=1 [driver]=1 [simtime]=1 [core]=1 [procedures]=1)
# Folders that may link these Qt modules and no other (no widgets: the windows sit above them).
declare -A qt_modules=([records]="Core Sql")

failures=0
for folder in */; do
  folder="${folder%/}"
  if [[ -z "${allowed[$folder]+set}" ]]; then
    echo "src/$folder: a folder the layering does not know; add it to scripts/check_layers.sh"
    failures=$((failures + 1))
    continue
  fi
  while IFS=: read -r file line text; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([a-z_]+)\/.*/\1/' <<<"$text")
    if [[ "${allowed[$folder]}" != "*" && " ${allowed[$folder]} " != *" $target "* ]]; then
      echo "src/$file:$line: $folder may not include $target ($text)"
      failures=$((failures + 1))
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z_]+/' "$folder" || true)
  # The libraries the folder links must come from allowed folders too (quor_<folder>[_...]).
  if [[ "${allowed[$folder]}" != "*" && -f "$folder/CMakeLists.txt" ]]; then
    for library in $(grep -oE '\bquor_[a-z]+' "$folder/CMakeLists.txt" | sort -u); do
      target="${library#quor_}"
      [[ -n "${allowed[$target]+set}" ]] || continue
      if [[ " ${allowed[$folder]} " != *" $target "* ]]; then
        echo "src/$folder/CMakeLists.txt: $folder may not link $library"
        failures=$((failures + 1))
      fi
    done
  fi
  if [[ -n "${qt_modules[$folder]+set}" ]]; then
    for module in $(grep -oE 'Qt6::[A-Za-z]+' "$folder/CMakeLists.txt" | sort -u); do
      if [[ " ${qt_modules[$folder]} " != *" ${module#Qt6::} "* ]]; then
        echo "src/$folder/CMakeLists.txt: $folder may link only Qt ${qt_modules[$folder]}, not $module"
        failures=$((failures + 1))
      fi
    done
  fi
  if [[ -n "${qt_free[$folder]+set}" ]]; then
    while IFS= read -r hit; do
      echo "src/$hit: $folder is Qt-free"
      failures=$((failures + 1))
    done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$folder" || true)
    if grep -qE 'Qt6::' "$folder/CMakeLists.txt" 2>/dev/null; then
      echo "src/$folder/CMakeLists.txt: $folder is Qt-free but links Qt"
      failures=$((failures + 1))
    fi
  fi
done

if ((failures > 0)); then
  echo "layering: $failures offending include(s)"
  exit 1
fi
echo "layering: ok"
