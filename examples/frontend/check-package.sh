#!/usr/bin/env bash
# Proves the export: installs nolva from a build tree into a fresh prefix,
# builds the example front end against it with find_package(nolva CONFIG)
# and with pkg-config, builds it once more with nolva as a subproject, and
# runs it only on a simulated board.
#   check-package.sh SOURCE BUILD WORK NOLVA_BOARD [CMAKE_ARGS...]
set -euo pipefail
source=$1 build=$2 work=$3 board_tool=$4
shift 4
example=$source/examples/frontend
prefix=$work/prefix

rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$prefix" >/dev/null

for file in bin/nolvactl sbin/nolva-boot sbin/nolvad etc/init.d/nolva-boot etc/init.d/nolvad \
            include/nolva/store/device_manager.h include/nolva/boot/boot.h \
            share/doc/nolva/examples/fleet/README.md share/doc/nolva/examples/fleet/firmware.yml \
            share/doc/nolva/examples/fleet/group_vars/all.yml; do
  [ -e "$prefix/$file" ] || { echo "not installed: $file" >&2; exit 1; }
done
sh -n "$prefix/etc/init.d/nolva-boot"
sh -n "$prefix/etc/init.d/nolvad"

# Only the public headers: the internal ones stay in the source tree.
headers=$(cd "$prefix/include/nolva" && find . -type f | sort | tr '\n' ' ')
[ "$headers" = "./boot/boot.h ./store/device_facts.h ./store/device_manager.h ./store/settings_records.h ./store/status_codes.h ./store/user_table.h " ] ||
  { echo "installed headers: $headers" >&2; exit 1; }

# The init scripts are a component of their own.
cmake --install "$build" --prefix "$work/init-only" --component init >/dev/null
[ "$(cd "$work/init-only" && find . -type f | sort | tr '\n' ' ')" = "./etc/init.d/nolva-boot ./etc/init.d/nolvad " ] ||
  { echo "component init holds more than the init scripts" >&2; exit 1; }

echo "--- find_package(nolva CONFIG)"
cmake -S "$example" -B "$work/package" -DCMAKE_PREFIX_PATH="$prefix" "$@" >/dev/null
cmake --build "$work/package"

echo "--- pkg-config"
pc=$(dirname "$(find "$prefix" -name nolva.pc)")
cached() { sed -n "s/^$1:[A-Z]*=//p" "$work/package/CMakeCache.txt"; }
# shellcheck disable=SC2046  # word splitting of the flags is meant
"$(cached CMAKE_CXX_COMPILER)" -std=c++17 $(cached CMAKE_CXX_FLAGS) -o "$work/frontend-pc" \
  "$example/frontend.cc" $(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs nolva) \
  $(cached CMAKE_EXE_LINKER_FLAGS)

echo "--- nolva as a subproject"
cmake -S "$example" -B "$work/subproject" -DNOLVA_SOURCE_DIR="$source" "$@" >/dev/null
cmake --build "$work/subproject" -j "$(nproc)" --target frontend

echo "--- on a simulated board"
"$board_tool" new "$work/board" >/dev/null
for frontend in "$work/package/frontend" "$work/frontend-pc" "$work/subproject/frontend"; do
  NOLVA_PASSWORD=kevla "$board_tool" run "$work/board" -- "$frontend" | tee "$work/out"
  grep -qx 'dhcp on, address 192.168.0.223' "$work/out"
done
echo "package checked"
