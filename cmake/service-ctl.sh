#!/usr/bin/env bash
# Starts or stops a reference Halvane service for one test program (a ctest fixture).
#   service-ctl.sh start EXE ADDRESS SEED STATEDIR
#   service-ctl.sh stop STATEDIR
set -u
cmd=$1
case "$cmd" in
start)
  exe=$2 address=$3 seed=$4 state=$5
  mkdir -p "$state"
  if [ -f "$state/pid" ]; then kill "$(cat "$state/pid")" 2>/dev/null; rm -f "$state/pid"; fi
  if [ ! -x "$exe" ]; then echo "service-ctl: $exe is not built (build the host preset first)"; exit 1; fi
  args=(serve --listen "$address:80" --db :memory: --quiet)
  [ -n "$seed" ] && args+=(--seed "$seed")
  setsid "$exe" "${args[@]}" >"$state/log" 2>&1 </dev/null &
  echo $! >"$state/pid"
  for _ in $(seq 1 100); do
    grep -q "listening on" "$state/log" 2>/dev/null && exit 0
    kill -0 "$(cat "$state/pid")" 2>/dev/null || break
    sleep 0.1
  done
  echo "service-ctl: the service did not start:"; cat "$state/log"; exit 1
  ;;
stop)
  state=$2
  if [ -f "$state/pid" ]; then kill "$(cat "$state/pid")" 2>/dev/null; rm -f "$state/pid"; fi
  exit 0
  ;;
esac
echo "usage: service-ctl.sh start EXE ADDRESS SEED STATEDIR | stop STATEDIR"; exit 2
