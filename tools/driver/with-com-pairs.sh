#!/usr/bin/env bash
# Runs a Windows program under Wine with null-modem COM port pairs in place.
#
#   with-com-pairs.sh [--build-dir DIR] [--shim LIB.so] PAIRS... -- program.exe [args...]
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
#   - removes what a killed earlier run left (socat processes, links, dirs);
#   - starts one socat per pair with both pty ends linked into a fresh run
#     directory under <build>/com-pairs/, waits for the links, and links them
#     as <prefix>/dosdevices/comN;
#   - runs the program through cmake/wine-run.sh with BENCH_COM_PAIRS set to
#     the pairs (the test support library reads it to know which ports are its
#     own), and with LD_PRELOAD=LIB.so when --shim is given (a host library
#     that answers modem-line ioctls on ptys; optional, tests only);
#   - on any exit removes the links, ends its socats and deletes the run dir,
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

build_dir=""
shim=""
pairs=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) [ $# -ge 2 ] || die "--build-dir needs a directory"; build_dir=$2; shift 2 ;;
    --shim) [ $# -ge 2 ] || die "--shim needs a library"; shim=$2; shift 2 ;;
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
# child, or a daemon that outlives us (wineserver, socat) would keep it.
exec 8>"$BUILD_DIR/wine-state/com-ports.lock"
flock -w 600 8 || die "timed out waiting for the COM port lock of $BUILD_DIR"

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
"$WINE_RUN" --env </dev/null >"$ROOT/env.log" 2>&1 8>&- || die "Wine prefix set-up failed: $(cat "$ROOT/env.log")"
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
socat_pids=()
made_links=()

cleanup() {
  local link pid
  for link in "${made_links[@]}"; do rm -f "$link"; done
  for pid in "${socat_pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${socat_pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$RUN"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

for p in "${pairs[@]}"; do
  a=$((10#${p%%:*}))
  b=$((10#${p##*:}))
  # Nothing of socat may hold our caller's output pipe (ctest waits for it).
  socat "pty,raw,echo=0,link=$RUN/com$a" "pty,raw,echo=0,link=$RUN/com$b" \
    </dev/null >/dev/null 2>"$RUN/socat-$a-$b.log" 8>&- &
  socat_pids+=($!)
  echo $! >"$RUN/socat-$a-$b.pid"
done

for p in "${pairs[@]}"; do
  a=$((10#${p%%:*}))
  b=$((10#${p##*:}))
  for _ in $(seq 1 200); do
    [ -e "$RUN/com$a" ] && [ -e "$RUN/com$b" ] && break
    sleep 0.025
  done
  [ -e "$RUN/com$a" ] && [ -e "$RUN/com$b" ] ||
    die "socat made no ptys for $p: $(cat "$RUN/socat-$a-$b.log" 2>/dev/null)"
  for n in "$a" "$b"; do
    link=$PREFIX/dosdevices/com$n
    rm -f "$link"
    ln -s "$RUN/com$n" "$link" || die "cannot link $link"
    made_links+=("$link")
  done
done

export BENCH_COM_PAIRS="${pairs[*]}"
if [ -n "$shim" ]; then
  export LD_PRELOAD="$shim${LD_PRELOAD:+:$LD_PRELOAD}"
fi
"$WINE_RUN" "$@" 8>&-
rc=$?
exit $rc
