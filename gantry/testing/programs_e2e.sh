#!/usr/bin/env bash
# programs_e2e.sh EMULATOR HOST [RUNNER...]: the programs gantry-emulator and
# gantry-host end to end. Without the emulator every call fails; with it
# running, every command of gantry-host gives the expected result. RUNNER
# (for a cross build, the command that runs its programs, such as
# cmake/wine-run PREFIX) comes before each program.
set -uo pipefail

emulator=$1
host=$2
shift 2
runner=("$@")
failures=0

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
trap 'kill $emulator_pid 2>/dev/null; wait $emulator_pid 2>/dev/null' EXIT
for _ in $(seq 100); do
  [ "$("${runner[@]}" "$host" running 2>/dev/null | tr -d '\r')" = true ] && break
  sleep 0.2
done

expect true running
expect true has QuorvaneRT
expect true has MemoPad
expect false has Missing
expect 772 version
expect true install 'C:\apps\DemoApp.prc'
expect done launch MemoPad
expect done reset
expect done launcher

if [ "$failures" -ne 0 ]; then
  echo "$failures call(s) gave an unexpected result"
  exit 1
fi
echo "gantry-emulator and gantry-host: every call as expected"
