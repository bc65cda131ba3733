#!/usr/bin/env bash
# programs_e2e.sh EMULATOR HOST [RUNNER...]: the programs gantry-emulator and
# gantry-host end to end. Without the emulator every call fails; with it
# running, every command of gantry-host gives the expected result: a database
# file installed, exported back byte for byte, the screen saved. RUNNER (for a
# cross build, the command that runs its programs, such as cmake/wine-run
# PREFIX) comes before each program, which then sees the files through Wine's
# drive Z:.
set -uo pipefail

emulator=$1
host=$2
shift 2
runner=("$@")
failures=0
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
windows_folder="Z:${folder//\//\\}"

# Demo.pdb: the header of a record database Demo, type DATA, creator Demo,
# created and modified at 0xC1000000, with no records.
{
  printf 'Demo'
  head -c 28 /dev/zero
  printf '\x00\x00\x00\x01\xc1\x00\x00\x00\xc1\x00\x00\x00'
  head -c 16 /dev/zero
  printf 'DATADemo'
  head -c 10 /dev/zero
} >"$folder/Demo.pdb"

# expect RESULT ARGS...: gantry-host ARGS prints RESULT (line ends of either
# platform) and exits 0.
expect() {
  local expected=$1 got status
  shift
  got=$("${runner[@]}" "$host" "$@" 2>&1 | tr -d '\r')
  status=${PIPESTATUS[0]}
  if [ "$got" != "$expected" ] || [ "$status" -ne 0 ]; then
    echo "gantry-host $*: got '$got' (status $status), expected '$expected'"
    failures=$((failures + 1))
  fi
}

expect false running
expect 0 version

"${runner[@]}" "$emulator" --seconds 60 --database QuorvaneRT=0x10000:0x0304 \
  --database MemoPad=131072:1 >/dev/null 2>&1 &
emulator_pid=$!
trap 'kill $emulator_pid 2>/dev/null; wait $emulator_pid 2>/dev/null; rm -rf "$folder"' EXIT
for _ in $(seq 100); do
  [ "$("${runner[@]}" "$host" running 2>/dev/null | tr -d '\r')" = true ] && break
  sleep 0.2
done

expect true running
expect true has QuorvaneRT
expect true has MemoPad
expect false has Missing
expect 772 version
expect true install "$windows_folder\\Demo.pdb"
expect true has Demo
expect false install 'C:\apps\DemoApp.prc'
expect true export Demo "$windows_folder\\Exported.pdb"
expect false export Missing "$windows_folder\\Missing.pdb"
expect true screen "$windows_folder\\shot.bmp"
if ! cmp -s "$folder/Demo.pdb" "$folder/Exported.pdb" || [ "$(ls "$folder" | wc -l)" -ne 3 ]; then
  echo "the export differs from the installed file, or other files were left: $(ls "$folder")"
  failures=$((failures + 1))
fi
expect done launch MemoPad
expect done reset
expect done launcher

if [ "$failures" -ne 0 ]; then
  echo "$failures call(s) gave an unexpected result"
  exit 1
fi
echo "gantry-emulator and gantry-host: every call as expected"
