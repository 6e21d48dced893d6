# Sourced by the scripts in script/ (". script/lib.sh" from their own
# folder): the repository root as working directory, the build trees of
# CMakePresets.json built with their output kept back unless a build fails,
# and the environment that Wine and the winedriver package read.
# shellcheck shell=bash

cd "$(dirname "${BASH_SOURCE[0]}")/.."
# Two cores at most: the machine is shared.
jobs="${ZANVOR_JOBS:-2}"
script_name="$(basename "$0")"

# quietly COMMAND...: runs COMMAND with its output in a log that is shown
# only when it fails, and then ends the script.
quietly() {
  local log
  log="$(mktemp)"
  if ! "$@" >"$log" 2>&1; then
    cat "$log"
    rm -f "$log"
    echo "$script_name: build failed: $*" >&2
    exit 1
  fi
  rm -f "$log"
}

# build PRESET [TARGET...]: configures the preset's tree build/PRESET and
# builds the targets (all when none is given).
build() {
  local preset="$1"
  shift
  quietly cmake --preset "$preset"
  if [ $# -gt 0 ]; then
    quietly cmake --build "build/$preset" -j "$jobs" --target "$@"
  else
    quietly cmake --build "build/$preset" -j "$jobs"
  fi
}

# The native tool that the whole-system tests run beside the Wine programs
# (CMake passes it to them as ZANVOR_NATIVE_TOOL).
native_tool="$PWD/build/native/zanvor"

# need_native_tool: ends the script, saying how to build it, when the
# native tool is missing.
need_native_tool() {
  if [ ! -x "$native_tool" ]; then
    echo "$script_name: $native_tool is missing; the whole-system tests run it." \
         "Build it first: cmake --preset native && cmake --build build/native --target zanvor_tool" >&2
    exit 1
  fi
}

# wine_env: what Wine programs started by hand or by ctest need (headless,
# quiet, the project's default prefix) and where the drivers in tools/,
# bench/ and stress/ find the i686 build's programs.
wine_env() {
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX="$PWD/build/wine/default"
  export ZANVOR_BUILD="$PWD/build/win32"
  export ZANVOR_FLL="$ZANVOR_BUILD/zanvor.fll" ZANVOR_HOST="$ZANVOR_BUILD/zanvor.exe"
  export ZANVOR_RELAY="$ZANVOR_BUILD/zanvor_relay.exe" ZANVOR_BENCH="$ZANVOR_BUILD/zanvor_bench.exe"
  export ZANVOR_NATIVE_TOOL="$native_tool"
}
