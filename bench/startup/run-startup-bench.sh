#!/usr/bin/env bash
# Add-in start-up benchmark: starts the reference service on a loopback address, then times 20
# starts of HvOut.dll in the simulated Outlook for versions 11 and 14, with each of the given
# numbers of tasks and of appointments in the folders.
# Usage: bench/startup/run-startup-bench.sh [BUILD_DIR] [STARTS] [ITEMS...]  (default items: 0)
set -uo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/win64}
starts=${2:-20}
shift 2 2>/dev/null || shift $#
sizes=${*:-0}
service=build/host/halvane-service/halvane-service
address=127.0.0.37
[ -x "$service" ] || { cmake --preset host >/dev/null && cmake --build --preset host --target halvane-service; }
cmake --build "$build" --target bench_startup HvOut >/dev/null || exit 1
state=$(mktemp -d)
trap 'kill $(cat "$state/pid" 2>/dev/null) 2>/dev/null; rm -rf "$state"' EXIT
setsid "$service" serve --listen "$address:80" --db :memory: --quiet >"$state/log" 2>&1 </dev/null &
echo $! >"$state/pid"
for _ in $(seq 1 600); do grep -q "listening on" "$state/log" && break; sleep 0.5; done
grep -q "listening on" "$state/log" || { cat "$state/log"; exit 1; }
dll="Z:$(realpath "$build/addin/HvOut.dll" | tr / '\\')"
status=0
for n in $sizes; do
  "$build/wine-run" "$build/bench/startup/bench_startup.exe" "$address" "$dll" "$starts" "$n" || status=1
done
exit $status
