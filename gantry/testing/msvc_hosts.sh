#!/usr/bin/env bash
# msvc_hosts.sh EMULATOR HOST [RUNNER...]: one Microsoft-ABI test host against
# gantry-emulator. HOST checks every function's answer itself and exits with
# the number of failed checks: first with nothing listening, then with the
# emulator running. The emulator's request lines then show that the launch,
# the reset and the launcher reached it. RUNNER (such as cmake/wine-run
# PREFIX) comes before each program.
set -uo pipefail

emulator=$1
host=$2
shift 2
runner=("$@")
failures=0
requests=$(mktemp)

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
trap 'kill $emulator_pid 2>/dev/null; wait $emulator_pid 2>/dev/null; rm -f "$requests"' EXIT
for _ in $(seq 150); do
  grep -q 'listening' "$requests" && break
  sleep 0.2
done

run_host online
sleep 0.3  # the emulator prints each request within 100 ms
expect_request 'HostControl\(0x0500, "C:\\apps\\DemoApp.prc", 0x00000000\)'
expect_request 'SysUIAppSwitch\(0x0000, 0x00020000, 0x0000, 0x00000000\)'
expect_request 'SysReset\(\)'
expect_request 'EvtEnqueueKey\(0x0108, 0x0108, 0x0008\)'
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
