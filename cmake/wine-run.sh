#!/usr/bin/env bash
# Runs a Windows program of the MinGW build under Wine, the way ctest and the
# scripts expect: one prefix inside the build tree, Chinese locale (code page
# 936), a virtual display when there is none, and one persistent wineserver so
# that the session (and any COM port links made in it) lasts the whole run.
#
#   wine-run.sh program.exe [args...]        run it, exit with its exit code
#   wine-run.sh --env                        print the environment (for eval)
#   wine-run.sh --stop                       end the wineserver and Xvfb
#
# The build tree is found from BENCH_BUILD_DIR, else by walking up from the
# current directory to the CMakeCache.txt.
set -u

find_build_dir() {
  if [ -n "${BENCH_BUILD_DIR:-}" ]; then echo "$BENCH_BUILD_DIR"; return; fi
  local d; d=$(pwd)
  while [ "$d" != "/" ]; do
    if [ -f "$d/CMakeCache.txt" ]; then echo "$d"; return; fi
    d=$(dirname "$d")
  done
  echo "wine-run.sh: no build tree above $(pwd); set BENCH_BUILD_DIR" >&2
  exit 2
}

# The Xvfb and the wineserver started here outlive this script. Whatever
# descriptors the caller handed down must not live on in them: a lock taken
# around a test run (flock FILE ctest ...) would stay held for as long as the
# server lives, and every later run waiting for it would wait for ever.
for fd in /proc/$$/fd/*; do
  fd=${fd##*/}
  [ "$fd" -gt 2 ] 2>/dev/null && eval "exec $fd>&-"
done

BUILD_DIR=$(cd "$(find_build_dir)" && pwd)
export WINEPREFIX="$BUILD_DIR/wineprefix"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=zh_CN.UTF-8
export WINEARCH=win64
STATE="$BUILD_DIR/wine-state"
mkdir -p "$STATE"

start_display() {
  if [ -n "${DISPLAY:-}" ] && [ -z "${BENCH_FORCE_XVFB:-}" ]; then return; fi
  local disp
  if [ -f "$STATE/display" ]; then
    disp=$(cat "$STATE/display")
    if [ -f "$STATE/xvfb.pid" ] && kill -0 "$(cat "$STATE/xvfb.pid")" 2>/dev/null; then
      export DISPLAY="$disp"; return
    fi
  fi
  local n
  for n in $(seq 91 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    (close_inherited_fds; exec Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp) >/dev/null 2>&1 &
    echo $! > "$STATE/xvfb.pid"
    local i
    for i in $(seq 1 100); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      sleep 0.05
    done
    echo ":$n" > "$STATE/display"
    export DISPLAY=":$n"
    return
  done
  echo "wine-run.sh: no free X display" >&2
  exit 2
}

# Processes that outlive this script (Xvfb, the wineserver, Wine's session
# services) are started from a subshell that first closes every descriptor
# above stderr: a lock the caller holds (flock FILE wine-run.sh ...) must end
# with the caller, not with the session.
close_inherited_fds() {
  local fd
  for fd in /proc/$BASHPID/fd/*; do
    fd=${fd##*/}
    [ "$fd" -gt 2 ] 2>/dev/null && eval "exec $fd>&-"
  done
}

# Wine's session processes (services, winedevice, explorer) outlive the
# program that started them and inherit its standard handles; if those are a
# pipe, ctest or a "| tail" waits for ever. So nothing of Wine ever gets the
# caller's stdout/stderr directly: the program's output goes through files.
init_prefix() {
  if [ -f "$WINEPREFIX/.bench-ready" ]; then return; fi
  (close_inherited_fds; exec wineboot --init) </dev/null >/dev/null 2>&1
  # Without a window manager a hidden captioned window (a message box) waits
  # two seconds for one unless Wine manages its own windows.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.bench-ready"
}

case "${1:-}" in
  --stop)
    wineserver -k 2>/dev/null
    [ -f "$STATE/xvfb.pid" ] && kill "$(cat "$STATE/xvfb.pid")" 2>/dev/null
    rm -f "$STATE/xvfb.pid" "$STATE/display"
    exit 0 ;;
esac

exec 9>"$STATE/lock"
flock 9
start_display
init_prefix
# A persistent server keeps the session alive between the programs of a run.
(close_inherited_fds; exec wineserver -p) </dev/null >/dev/null 2>&1
# Bring the session's services up here, detached from the caller's handles.
# wineboot only starts what is not yet running, so it is cheap once up.
(close_inherited_fds; exec wineboot) </dev/null >/dev/null 2>&1
# Every session start links the host's own serial devices (/dev/ttyS0 ...)
# into the prefix as COM1 and up. Tests and the run script must never open a
# port they did not create, so those links go; links to our ptys stay.
find "$WINEPREFIX/dosdevices" -maxdepth 1 -name 'com*' -lname '/dev/*' -delete 2>/dev/null
flock -u 9
exec 9>&-

if [ "${1:-}" = "--env" ]; then
  printf 'export WINEPREFIX=%q WINEDEBUG=%q WINEDLLOVERRIDES=%q LC_ALL=%q WINEARCH=%q DISPLAY=%q\n' \
    "$WINEPREFIX" "$WINEDEBUG" "$WINEDLLOVERRIDES" "$LC_ALL" "$WINEARCH" "$DISPLAY"
  exit 0
fi

out=$(mktemp "$STATE/out.XXXXXX")
err=$(mktemp "$STATE/err.XXXXXX")
# A caller that ends this early (scripts/run on Ctrl+C) leaves no files.
trap 'rm -f "$out" "$err"' EXIT
trap 'exit 143' TERM
(close_inherited_fds; exec wine "$@") </dev/null >"$out" 2>"$err" &
pid=$!
# Relay the output while the program runs, so long tests still show progress.
tail -f --pid=$pid "$out" &
tailpid=$!
wait $pid
rc=$?
wait $tailpid 2>/dev/null
cat "$err" >&2
rm -f "$out" "$err"
exit $rc
