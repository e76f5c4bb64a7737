#!/usr/bin/env bash
# Runs a Wine test program in a session without any COM port.
#
# Wine links the host's serial devices into every prefix as
# dosdevices/comN -> /dev/ttyS* when its session starts, and a program that
# lists ports (as both benches do at start-up) would open them. Removing the
# DOS device definition from inside Wine does not stop that: the link on disk
# still resolves. So the session is started first, then the links to host
# devices are removed, then the program runs in that same session.
#
#   run-without-host-ports.sh BUILD_DIR PROGRAM.exe [args...]
#
# The program starts Pellfray, so the run holds the machine-wide port-23
# lock (tools/driver/port23-lock.sh) while it lasts.
set -u
build=$1
shift
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
wine_run=$here/../../../cmake/wine-run.sh
. "$here/../../../tools/driver/port23-lock.sh"
take_port23_lock 7 || { echo "timed out waiting for the port-23 lock ($PORT23_LOCK)" >&2; exit 2; }
export BENCH_BUILD_DIR=$build
"$wine_run" --env </dev/null >/dev/null 2>&1 7>&- || { echo "Wine session set-up failed" >&2; exit 2; }
for link in "$build"/wineprefix/dosdevices/com*; do
  [ -L "$link" ] || continue
  case "$(readlink "$link")" in /dev/*) rm -f "$link" ;; esac
done
"$wine_run" "$@" 7>&-
