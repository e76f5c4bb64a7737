#!/usr/bin/env bash
# cmake/wine-run.sh with faults on the line that the Windows test can ask for.
#
# with-com-pairs.sh runs this in place of cmake/wine-run.sh (BENCH_WINE_RUN).
# While the program runs, a watcher serves requests that the program writes
# as files through Wine's Z: drive into <build>/wine-state/line-faults/:
#
#   cutN      the cable of COMN's pair disappears: its socat is killed, so
#             both ptys vanish under whoever holds them open
#   joinN     a new cable for the same pair: a fresh socat with the same two
#             link paths, so the ports open again (onto new ptys)
#   holdN     COMN's transmit side is held (tcflow TCOOFF on its pty): its
#             writes stay pending, as with a peer that stops taking bytes
#   releaseN  transmission of COMN goes on (tcflow TCOON)
#
# Each request is answered by a file <request>.done holding "ok" or the
# reason it failed; the request file itself is removed. (Not "comN": Windows
# reads any file named COM1..COM9 as the device itself.)
#
# Only socats of this run (their command line names the run directory that
# with-com-pairs.sh made) are ever killed; socats started here are ended
# when the program ends, before with-com-pairs.sh tidies up.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
real=${BENCH_REAL_WINE_RUN:-$here/../../cmake/wine-run.sh}

case "${1:-}" in
  --env|--stop|"") exec "$real" "$@" ;;
esac

build=${BENCH_BUILD_DIR:?BENCH_BUILD_DIR is set by with-com-pairs.sh}
pairs=${BENCH_COM_PAIRS:?BENCH_COM_PAIRS is set by with-com-pairs.sh}
requests=$build/wine-state/line-faults
rm -rf "$requests"
mkdir -p "$requests"
joined=$requests/.joined-pids

# The pair "A B" that holds port n, or nothing.
pair_of() {
  local p
  for p in $pairs; do
    if [ "${p%%:*}" = "$1" ] || [ "${p##*:}" = "$1" ]; then
      echo "${p%%:*} ${p##*:}"
      return
    fi
  done
}

# The run directory of with-com-pairs.sh, read from the prefix's link.
run_dir_of() {
  local target
  target=$(readlink "$build/wineprefix/dosdevices/com$1" 2>/dev/null) || return 1
  case "$target" in "$build"/com-pairs/run.*/com*) dirname "$target" ;; *) return 1 ;; esac
}

alive() { # a pid that runs and is not a zombie
  local state
  state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}

do_cut() {
  local a b run pid
  read -r a b <<<"$(pair_of "$1")"
  [ -n "${a:-}" ] || { echo "COM$1 is in no pair"; return; }
  run=$(run_dir_of "$1") || { echo "no link for COM$1"; return; }
  pid=$(cat "$run/socat-$a-$b.pid" 2>/dev/null)
  [ -n "$pid" ] && alive "$pid" || { echo "the cable of COM$1 is already gone"; return; }
  tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF "$run/" || { echo "pid $pid is not our socat"; return; }
  kill "$pid"
  for _ in $(seq 1 200); do
    alive "$pid" || break
    sleep 0.01
  done
  alive "$pid" && { echo "socat $pid did not end"; return; }
  # socat removes its own links as it ends; make sure nothing is left.
  rm -f "$run/com$a" "$run/com$b"
  echo ok
}

do_join() {
  local a b run pid
  read -r a b <<<"$(pair_of "$1")"
  [ -n "${a:-}" ] || { echo "COM$1 is in no pair"; return; }
  run=$(run_dir_of "$1") || { echo "no link for COM$1"; return; }
  pid=$(cat "$run/socat-$a-$b.pid" 2>/dev/null)
  [ -n "$pid" ] && alive "$pid" && { echo "the cable of COM$1 is still there"; return; }
  socat "pty,raw,echo=0,link=$run/com$a" "pty,raw,echo=0,link=$run/com$b" \
    </dev/null >/dev/null 2>>"$run/socat-$a-$b.log" 8>&- &
  pid=$!
  echo "$pid" >"$run/socat-$a-$b.pid"
  echo "$pid" >>"$joined"
  for _ in $(seq 1 200); do
    [ -e "$run/com$a" ] && [ -e "$run/com$b" ] && { echo ok; return; }
    sleep 0.01
  done
  echo "socat made no ptys"
}

do_flow() { # port, TCOOFF or TCOON
  local run
  run=$(run_dir_of "$1") || { echo "no link for COM$1"; return; }
  [ -e "$run/com$1" ] || { echo "COM$1 has no cable"; return; }
  python3 - "$run/com$1" "$2" <<'EOF' 2>&1 || true
import os, sys, termios
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
termios.tcflow(fd, getattr(termios, sys.argv[2]))
os.close(fd)
print("ok")
EOF
}

serve() {
  local req name answer
  while :; do
    for req in "$requests"/*; do
      [ -f "$req" ] || continue
      name=${req##*/}
      case "$name" in
        *.done|.*) continue ;;
        cut[0-9]*) answer=$(do_cut "${name#cut}") ;;
        join[0-9]*) answer=$(do_join "${name#join}") ;;
        hold[0-9]*) answer=$(do_flow "${name#hold}" TCOOFF) ;;
        release[0-9]*) answer=$(do_flow "${name#release}" TCOON) ;;
        *) answer="unknown request $name" ;;
      esac
      rm -f "$req"
      echo "$answer" >"$req.done.tmp" && mv -f "$req.done.tmp" "$req.done"
    done
    sleep 0.02
  done
}

stop_joined() {
  local pid
  for pid in $(cat "$joined" 2>/dev/null); do kill "$pid" 2>/dev/null; done
}

serve </dev/null >/dev/null 2>&1 8>&- &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; stop_joined; rm -rf "$requests"' EXIT

"$real" "$@"
exit $?
