#!/usr/bin/env bash
# msvc_hosts.sh EMULATOR HOST [RUNNER...]: one Microsoft-ABI test host against
# gantry-emulator. HOST checks every function's answer itself and exits with
# the number of failed checks: first with nothing listening, then with the
# emulator running and a folder holding a database file to install, where the
# export and the screen shot go. The emulator's request lines then show that
# the launch, the reset and the launcher reached it. RUNNER (such as
# cmake/wine-run PREFIX) comes before each program; the programs run under
# Wine, which sees the folder on its drive Z:.
set -uo pipefail

emulator=$1
host=$2
shift 2
runner=("$@")
failures=0
requests=$(mktemp)
folder=$(mktemp -d)
trap 'rm -rf "$requests" "$folder"' EXIT
windows_folder="Z:${folder//\//\\}"

# DemoApp.prc: the header of a resource database DemoApp, type appl, creator
# Demo, created and modified at 0xC1000000, with no resources.
{
  printf 'DemoApp'
  head -c 25 /dev/zero
  printf '\x00\x01\x00\x01\xc1\x00\x00\x00\xc1\x00\x00\x00'
  head -c 16 /dev/zero
  printf 'applDemo'
  head -c 10 /dev/zero
} >"$folder/DemoApp.prc"

# run_host [online]: runs HOST and counts a failure for a non-zero status.
run_host() {
  echo "== $(basename "$host") ${1:-offline}"
  "${runner[@]}" "$host" "$@" 2>&1 | tr -d '\r'
  local status=${PIPESTATUS[0]}
  if [ "$status" -ne 0 ]; then
    echo "$(basename "$host") ${1:-offline}: exit status $status"
    failures=$((failures + 1))
  fi
}

# expect_request PATTERN: the emulator printed a request line matching PATTERN.
expect_request() {
  if ! grep -qE "$1" "$requests"; then
    echo "the emulator got no request like: $1"
    failures=$((failures + 1))
  fi
}

run_host

"${runner[@]}" "$emulator" --seconds 60 --database QuorvaneRT=0x10000:0x8123 \
  --database MemoPad=0x20000:1 >"$requests" 2>&1 &
emulator_pid=$!
trap 'kill $emulator_pid 2>/dev/null; wait $emulator_pid 2>/dev/null; rm -rf "$requests" "$folder"' EXIT
for _ in $(seq 150); do
  grep -q 'listening' "$requests" && break
  sleep 0.2
done

run_host online "$windows_folder"
sleep 0.3  # the emulator prints each request within 100 ms
expect_request 'HostControl\(0x0500, "Z:.*\\DemoApp.prc", 0x00000000\)'
expect_request 'SysUIAppSwitch\(0x0000, 0x00020000, 0x0000, 0x00000000\)'
expect_request 'SysReset\(\)'
expect_request 'EvtEnqueueKey\(0x0108, 0x0108, 0x0008\)'
expect_request 'HostControl\(0x0501, "Z:.*\.tmp", 0x00000000, "MemoPad"\)'
for file in memo.pdb shot.bmp; do
  if [ ! -s "$folder/$file" ]; then
    echo "$file was not written"
    failures=$((failures + 1))
  fi
done
if [ "$(ls "$folder" | wc -l)" -ne 3 ]; then
  echo "files left in the folder besides DemoApp.prc, memo.pdb and shot.bmp: $(ls "$folder")"
  failures=$((failures + 1))
fi
if [ "$(grep -c SysUIAppSwitch "$requests")" -ne 1 ]; then
  echo "LaunchApp(MemoPad) and LaunchApp(Missing) did not switch applications exactly once"
  failures=$((failures + 1))
fi

if [ "$failures" -ne 0 ]; then
  echo "--- emulator requests:"
  cat "$requests"
  exit 1
fi
echo "$(basename "$host"): every function answered as expected"
