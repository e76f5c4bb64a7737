#!/usr/bin/env bash
# Runs a Windows program under Wine with null-modem COM port pairs in place.
#
#   with-com-pairs.sh [--build-dir DIR] [--shim LIB.so] [--port23] PAIRS... -- program.exe [args...]
#
# PAIRS are A:B items (one per argument, or several in one argument separated
# by spaces), e.g.  with-com-pairs.sh "3:13 10:20" 200:21 -- serial_test.exe
# Each A:B is one null-modem cable: bytes written to COMA arrive at COMB and
# back. The program under test opens one end; the test plays the device on
# the other. Port numbers are 1..999, each used once; numbers above 256 lie
# beyond what either program probes, so a device end there never shows up
# in a port listing. (Wine does not enforce exclusive opens on these ports:
# holding an end open does not hide it from a listing.)
#
# What it does:
#   - finds the MinGW build tree (--build-dir, else BENCH_BUILD_DIR, else the
#     CMakeCache.txt above the current directory) and brings its Wine prefix
#     up through cmake/wine-run.sh;
#   - takes an exclusive lock on the prefix's COM ports for the whole run, so
#     runs in one build tree queue up (ctest also gets RESOURCE_LOCK) and runs
#     in different build trees never meet (each tree has its own prefix);
#   - with --port23 (the program under test starts Pellfray, which listens
#     on TCP port 23), also takes the machine-wide port-23 lock (see
#     port23-lock.sh): every build tree's Wine shares the host's port 23;
#   - removes what a killed earlier run left (relay processes, links, dirs);
#   - starts one relay per pair (null-modem-cable.py: each direction relayed
#     on its own, so an end that is not read stalls only the bytes going into
#     it) with both pty ends linked into a fresh run directory under
#     <build>/com-pairs/, waits for the links, and links them as
#     <prefix>/dosdevices/comN;
#   - runs the program through cmake/wine-run.sh with BENCH_COM_PAIRS set to
#     the pairs (the test support library reads it to know which ports are its
#     own), and with LD_PRELOAD=LIB.so when --shim is given (a host library
#     that answers modem-line ioctls on ptys; optional, tests only);
#   - while the program runs, does what the program asks for with a request
#     file in $BENCH_CABLE_DIR (<build>/wine-state/cables; the program
#     writes it through Wine's Z: drive, then waits for NAME.done):
#         unlink-N   remove the link of COMN (listed, but it no longer opens)
#         link-N     make the link of COMN again (after unlink-N)
#         pull-N     end the relay of N's pair: both ends vanish, as when a
#                    USB adapter is pulled out
#         plug-N     make N's pair again with the same links (it comes back)
#         add-A-B    a new pair A:B, linked as COMA and COMB (newly plugged)
#     (Not "comN": Windows reads a file name COM1..COM9 with any extension,
#     in any folder, as the device itself.) With --shim, the file
#     $BENCH_CABLE_DIR/refuse-baud, holding a rate, makes every pty refuse
#     that rate (see the shim);
#   - on any exit removes the links, ends its relays and deletes the run dir,
#     and exits with the program's exit code (2 when the set-up failed).
#
# Wine makes the host's ttyS0 into COM1 in two ways: a link in the prefix,
# which this script removes with every other foreign COM link, and a DOS
# device definition, which only the program can remove: tests call
# RemoveForeignComPorts() from com_test_support.h before anything lists or
# opens ports.
set -u

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
WINE_RUN=${BENCH_WINE_RUN:-$HERE/../../cmake/wine-run.sh}

die() { echo "with-com-pairs.sh: $*" >&2; exit 2; }
# The system's python: a version manager's shim may take seconds to start.
PYTHON=${BENCH_PYTHON:-/usr/bin/python3}
[ -x "$PYTHON" ] || PYTHON=$(command -v python3) || die "no python3 for the null-modem cables"

build_dir=""
shim=""
port23=""
pairs=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) [ $# -ge 2 ] || die "--build-dir needs a directory"; build_dir=$2; shift 2 ;;
    --shim) [ $# -ge 2 ] || die "--shim needs a library"; shim=$2; shift 2 ;;
    --port23) port23=1; shift ;;
    --) shift; break ;;
    -h|--help) sed -n '2,/^set -u/p' "${BASH_SOURCE[0]}" | sed '$d'; exit 0 ;;
    *) for p in $1; do pairs+=("$p"); done; shift ;;
  esac
done
[ $# -ge 1 ] || die "no program given (expected: PAIRS... -- program.exe [args])"
[ ${#pairs[@]} -ge 1 ] || die "no COM pairs given"

if [ -z "$build_dir" ]; then
  if [ -n "${BENCH_BUILD_DIR:-}" ]; then
    build_dir=$BENCH_BUILD_DIR
  else
    d=$(pwd)
    while [ "$d" != "/" ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
    [ -f "$d/CMakeCache.txt" ] || die "no build tree above $(pwd); use --build-dir"
    build_dir=$d
  fi
fi
BUILD_DIR=$(cd "$build_dir" && pwd) || die "no build dir $build_dir"
export BENCH_BUILD_DIR=$BUILD_DIR
PREFIX=$BUILD_DIR/wineprefix
ROOT=$BUILD_DIR/com-pairs
mkdir -p "$ROOT" "$BUILD_DIR/wine-state"

if [ -n "$shim" ]; then
  shim=$(cd "$(dirname "$shim")" && pwd)/$(basename "$shim")
  [ -f "$shim" ] || die "no shim library $shim"
fi

# Validate: A:B with 1 <= A,B <= 999, no port twice.
declare -A seen=()
ports=()
for p in "${pairs[@]}"; do
  [[ "$p" =~ ^([0-9]+):([0-9]+)$ ]] || die "bad pair '$p' (expected A:B)"
  for n in "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}"; do
    n=$((10#$n))
    [ "$n" -ge 1 ] && [ "$n" -le 999 ] || die "port $n out of range 1..999"
    [ -z "${seen[$n]:-}" ] || die "port COM$n used twice"
    seen[$n]=1
    ports+=("$n")
  done
done

# One run at a time per prefix. The lock's descriptor is closed for every
# child, or a daemon that outlives us (wineserver, a relay) would keep it.
exec 8>"$BUILD_DIR/wine-state/com-ports.lock"
flock -w 600 8 || die "timed out waiting for the COM port lock of $BUILD_DIR"
# Port 23 after the tree's own lock, always in that order, so that no two
# runs each hold one lock while waiting for the other's.
if [ -n "$port23" ]; then
  . "$HERE/port23-lock.sh"
  take_port23_lock 7 || die "timed out waiting for the port-23 lock ($PORT23_LOCK)"
fi

# Anything under ROOT now is left from a run that was killed.
cleanup_stale() {
  local dir pid link
  for dir in "$ROOT"/run.*; do
    [ -d "$dir" ] || continue
    for pid in $(cat "$dir"/*.pid 2>/dev/null); do
      if tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF "$dir/"; then
        kill "$pid" 2>/dev/null
      fi
    done
    rm -rf "$dir"
  done
  for link in "$PREFIX"/dosdevices/com*; do
    [ -L "$link" ] || continue
    case "$(readlink "$link")" in "$ROOT"/*) rm -f "$link" ;; esac
  done
}
cleanup_stale

# The prefix must exist before links go into it; this also starts the
# persistent wineserver and the display that the program will use.
"$WINE_RUN" --env </dev/null >"$ROOT/env.log" 2>&1 7>&- 8>&- || die "Wine prefix set-up failed: $(cat "$ROOT/env.log")"
[ -d "$PREFIX/dosdevices" ] || die "no $PREFIX/dosdevices after set-up"

# Wine links the host's serial ports into every prefix (ttyS0 as com1). A
# test must never reach a port it did not make, so every other COM link goes;
# the definitions Wine also keeps are removed from inside by the test
# support (RemoveForeignComPorts).
for link in "$PREFIX"/dosdevices/com*; do
  [ -L "$link" ] || continue
  n=${link##*/com}
  [[ "$n" =~ ^[0-9]+$ ]] || continue
  rm -f "$link"
done

RUN=$(mktemp -d "$ROOT/run.XXXXXX") || die "cannot make a run dir under $ROOT"
CABLES=$BUILD_DIR/wine-state/cables
rm -rf "$CABLES"
mkdir -p "$CABLES"
watcher=""

# ended PID: the process has exited (a zombie that its parent has not
# reaped yet counts as ended: a relay of ours may be the watcher's).
ended() {
  [ ! -e "/proc/$1" ] || grep -q '^State:[[:space:]]*Z' "/proc/$1/status" 2>/dev/null
}

# Every relay leaves its pid in RUN/cable-A-B.pid and every link made goes
# into RUN/links, the watcher's included, so the clean-up finds them all.
cleanup() {
  local link pid
  [ -n "$watcher" ] && { kill "$watcher" 2>/dev/null; wait "$watcher" 2>/dev/null; }
  while read -r link; do rm -f "$link"; done <"$RUN/links" 2>/dev/null
  for pid in $(cat "$RUN"/*.pid 2>/dev/null); do kill "$pid" 2>/dev/null; done
  for pid in $(cat "$RUN"/*.pid 2>/dev/null); do
    until ended "$pid"; do sleep 0.01; done
    wait "$pid" 2>/dev/null
  done
  rm -rf "$RUN" "$CABLES"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# start_pair A B: one relay for the cable A:B, both ends linked in RUN.
# Each direction is relayed on its own (null-modem-cable.py), not by one
# socat loop: a socat blocked writing into an end that is no longer read
# stops relaying the other way too, and a test that stalls the program's
# line would no longer hear the device.
start_pair() {
  # Nothing of the relay may hold our caller's output pipe (ctest waits for it).
  "$PYTHON" "$HERE/null-modem-cable.py" "$RUN/com$1" "$RUN/com$2" \
    </dev/null >/dev/null 2>"$RUN/cable-$1-$2.log" 7>&- 8>&- &
  echo $! >"$RUN/cable-$1-$2.pid"
}

# wait_pair A B: true once both ends exist.
wait_pair() {
  for _ in $(seq 1 200); do
    [ -e "$RUN/com$1" ] && [ -e "$RUN/com$2" ] && return 0
    sleep 0.025
  done
  return 1
}

# link_port N: COMN of the prefix is the pty end N.
link_port() {
  local link=$PREFIX/dosdevices/com$1
  rm -f "$link"
  ln -s "$RUN/com$1" "$link" && echo "$link" >>"$RUN/links"
}

# pair_of N: "A B" of the cable that has the end N.
pair_of() {
  local f a b
  for f in "$RUN"/cable-*.pid; do
    [ -f "$f" ] || continue
    f=${f##*/cable-}; f=${f%.pid}; a=${f%-*}; b=${f#*-}
    if [ "$a" = "$1" ] || [ "$b" = "$1" ]; then echo "$a $b"; return 0; fi
  done
  return 1
}

# One request of the program (see the top); false when it could not be done.
serve() {
  local req=$1 n a b pid
  case "$req" in
    unlink-*)
      n=${req#unlink-}
      [ -L "$PREFIX/dosdevices/com$n" ] || return 1
      case "$(readlink "$PREFIX/dosdevices/com$n")" in "$ROOT"/*) rm -f "$PREFIX/dosdevices/com$n" ;; *) return 1 ;; esac ;;
    link-*)
      n=${req#link-}
      [ -e "$RUN/com$n" ] || return 1
      link_port "$n" ;;
    pull-*)
      read -r a b < <(pair_of "${req#pull-}") || return 1
      pid=$(cat "$RUN/cable-$a-$b.pid")
      kill "$pid" 2>/dev/null
      until ended "$pid"; do sleep 0.01; done
      rm -f "$RUN/com$a" "$RUN/com$b" ;;
    plug-*)
      read -r a b < <(pair_of "${req#plug-}") || return 1
      ended "$(cat "$RUN/cable-$a-$b.pid")" || return 0
      start_pair "$a" "$b"
      wait_pair "$a" "$b" ;;
    add-*-*)
      a=${req#add-}; b=${a#*-}; a=${a%-*}
      [[ "$a" =~ ^[0-9]+$ && "$b" =~ ^[0-9]+$ ]] || return 1
      pair_of "$a" >/dev/null || pair_of "$b" >/dev/null && return 1
      start_pair "$a" "$b"
      wait_pair "$a" "$b" && link_port "$a" && link_port "$b" ;;
    *) return 1 ;;
  esac
}

watch_requests() {
  local f req
  while :; do
    for f in "$CABLES"/*; do
      [ -f "$f" ] || continue
      req=${f##*/}
      case "$req" in *.done | *.failed | refuse-baud) continue ;; esac
      if serve "$req"; then mv -f "$f" "$f.done"; else mv -f "$f" "$f.failed"; fi
    done
    sleep 0.02
  done
}

for p in "${pairs[@]}"; do
  start_pair $((10#${p%%:*})) $((10#${p##*:}))
done

for p in "${pairs[@]}"; do
  a=$((10#${p%%:*}))
  b=$((10#${p##*:}))
  wait_pair "$a" "$b" || die "the relay made no ptys for $p: $(cat "$RUN/cable-$a-$b.log" 2>/dev/null)"
  link_port "$a" || die "cannot link COM$a"
  link_port "$b" || die "cannot link COM$b"
done

watch_requests </dev/null >/dev/null 2>&1 7>&- 8>&- &
watcher=$!

export BENCH_COM_PAIRS="${pairs[*]}"
export BENCH_CABLE_DIR=$CABLES
if [ -n "$shim" ]; then
  export LD_PRELOAD="$shim${LD_PRELOAD:+:$LD_PRELOAD}"
  export BENCH_SHIM_REFUSE_FILE=$CABLES/refuse-baud
fi
"$WINE_RUN" "$@" 7>&- 8>&-
rc=$?
exit $rc
