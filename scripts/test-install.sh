#!/usr/bin/env bash
# Uses the installed package the way a user does. Installs a build tree to a
# scratch prefix and moves the installation elsewhere (the CMake package and
# xelo.pc must find it from where they are), then
#   - checks that no installed file names the first prefix, and that neither
#     the exported targets nor xelo.pc hand this build's own options
#     (warnings, -Werror, sanitizers) to their users;
#   - compiles every installed header on its own (twice in one unit, for the
#     include guard) with the flags of xelo.pc, so that each includes what it
#     needs and everything it needs is installed;
#   - builds the consumers of tests/install out of the tree, one with
#     find_package(Xelo), one with pkg-config and plain g++, runs each and
#     checks that it saw three changes of a number and of a string item;
#     with Qt, a third that chooses an item in the browse dialog and shows
#     its value through a binding, and loads the example's designed form;
#   - with the Qt Designer plugin built, checks that it is installed.
#
#   scripts/test-install.sh [BUILD_DIR]   (already built; default: build/ of this checkout)
set -euo pipefail
build="$(realpath -e "${1:-$(dirname "$0")/../build}")"
cd "$(dirname "$0")/.."
source_dir="$PWD"
jobs="${XELO_JOBS:-2}"
cxx="${CXX:-g++}"

fail() { echo "test-install: $*" >&2; exit 1; }

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/first" >"$scratch/install.log"
mkdir -p "$scratch/moved"
mv "$scratch/first" "$scratch/moved/prefix"
prefix="$scratch/moved/prefix"

# ---- the installed files ----
if grep -rIl "$scratch/first" "$prefix"; then fail "the files above name the prefix they were installed to"; fi
[ -z "$(find "$prefix/include" -mindepth 1 -maxdepth 1 ! -name xelo)" ] || fail "headers installed outside include/xelo"
pc="$(find "$prefix" -name xelo.pc -path '*/pkgconfig/*')"
[ -n "$pc" ] || fail "no xelo.pc installed"
package="$(find "$prefix" -name XeloConfig.cmake)"
[ -n "$package" ] || fail "no XeloConfig.cmake installed"
build_only='-W(all|extra|error)|-fsanitize|xelo_options'
if grep -nE -- "$build_only" "$(dirname "$package")"/*.cmake "$pc"; then
  fail "the package hands build-only options to its users (lines above)"
fi
export PKG_CONFIG_PATH="$(dirname "$pc")"
cflags="$(pkg-config --cflags xelo)"
# The Qt layer's headers need Qt's flags too (xelo-qt.pc, when Qt was built).
if pkg-config --exists xelo-qt; then
  cflags="$(pkg-config --cflags xelo-qt)"
fi

# ---- every installed header on its own ----
# A COM back end's headers (xelo/com/portable/, xelo/com/native/) are parts of
# the public header of the same name, which includes them: checked through it.
headers=()
while IFS= read -r header; do headers+=("${header#"$prefix/include/"}"); done \
  < <(find "$prefix/include" -name '*.h' ! -path '*/xelo/com/portable/*' ! -path '*/xelo/com/native/*' | sort)
[ ${#headers[@]} -gt 0 ] || fail "no headers installed"
mkdir -p "$scratch/headers"
for header in "${headers[@]}"; do
  unit="$scratch/headers/$(echo "$header" | tr '/.' '__').cpp"
  printf '#include <%s>\n#include <%s>\n' "$header" "$header" >"$unit"
  echo "$unit"
done | xargs -P "$jobs" -I{} sh -c '"$1" $2 -Wall -Wextra -Werror -fsyntax-only "$3" || { echo "in the check of $3" >&2; exit 255; }' \
  sh "$cxx" "$cflags" {} || fail "an installed header does not compile on its own"
echo "${#headers[@]} installed headers compile on their own"

# ---- the consumers ----
check_output() {  # <name> <output file>
  local kind lines
  for kind in "number Channel 1.Device 1.Ramp" "string Channel 1.Device 1.Text"; do
    lines="$(grep -c "^$kind = .* (good)\$" "$2" || true)"
    [ "$lines" = 3 ] || { cat "$2"; fail "$1: $lines changes of '${kind#* }' instead of 3"; }
    [ "$(grep "^$kind = " "$2" | sort -u | wc -l)" = 3 ] || { cat "$2"; fail "$1: a change of '${kind#* }' repeats a value"; }
  done
  [ "$(tail -n 1 "$2")" = disconnected ] || { cat "$2"; fail "$1 did not disconnect"; }
  echo "$1: three changes of each item, disconnected"
}

consumer="$scratch/cmake-consumer"
cmake -S tests/install/cmake -B "$consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >"$scratch/consumer-configure.log" || { cat "$scratch/consumer-configure.log"; fail "find_package(Xelo) failed"; }
cmake --build "$consumer" || fail "the find_package consumer does not build"
if grep -nE -- "$build_only" "$consumer/compile_commands.json"; then fail "the consumer got build-only options"; fi
grep -qE -- '-std=(c|gnu)\+\+20' "$consumer/compile_commands.json" || fail "the exported targets do not ask for C++20"
timeout 60 "$consumer/watch_changes" >"$consumer/output" || { cat "$consumer/output"; fail "the find_package consumer failed"; }
check_output "find_package consumer" "$consumer/output"

consumer="$scratch/pkg-config-consumer"
mkdir -p "$consumer"
make -s -C "$consumer" -f "$source_dir/tests/install/pkgconfig/Makefile" CXX="$cxx" || fail "the pkg-config consumer does not build"
timeout 60 "$consumer/watch_changes" >"$consumer/output" || { cat "$consumer/output"; fail "the pkg-config consumer failed"; }
check_output "pkg-config consumer" "$consumer/output"
# The visual layers, when Qt was built: a Qt program with the dialogs and
# the binding component, run offscreen.
if pkg-config --exists xelo-qt; then
  consumer="$scratch/qt-consumer"
  cmake -S tests/install/qt -B "$consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" \
    >"$scratch/qt-consumer-configure.log" || { cat "$scratch/qt-consumer-configure.log"; fail "find_package(Xelo) failed for the Qt consumer"; }
  cmake --build "$consumer" || fail "the Qt consumer does not build"
  QT_QPA_PLATFORM=offscreen timeout 60 "$consumer/choose_and_show" >"$consumer/output" 2>/dev/null \
    || { cat "$consumer/output"; fail "the Qt consumer failed"; }
  grep -qx "chosen Static.String" "$consumer/output" && grep -qx "shown Hello" "$consumer/output" \
    || { cat "$consumer/output"; fail "the Qt consumer did not choose and show Static.String"; }
  echo "Qt consumer: an item chosen in the browse dialog, its value shown through a binding"
  QT_QPA_PLATFORM=offscreen timeout 60 "$consumer/designed_form" apps/examples/DesignedForm.ui --changes 3 \
    >"$consumer/output" 2>/dev/null || { cat "$consumer/output"; fail "the designed form failed"; }
  grep -q "^designed form: 3 data changes, ramp [0-9]" "$consumer/output" \
    || { cat "$consumer/output"; fail "the designed form showed no values"; }
  echo "Qt consumer: a form designed in Qt Designer loaded, its widgets showing values"
  if [ -f "$build/plugins/designer/libxelo_designer_plugin.so" ]; then
    [ -n "$(find "$prefix" -path '*/qt6/plugins/designer/libxelo_designer_plugin.so')" ] \
      || fail "the Qt Designer plugin was not installed"
    echo "Qt Designer plugin installed under $(find "$prefix" -path '*/qt6/plugins/designer' -type d)"
  fi
fi
echo "The installed package works from its new place."
