#!/usr/bin/env bash
# cmake/wine-run.sh with a way for the Windows test to pull a cable out.
#
# A Windows program cannot remove a COM port of the prefix: the port is a
# link in dosdevices to a pty, and Wine opens the device behind any path to
# it, so DeleteFile on the link fails. This wrapper stands in for
# cmake/wine-run.sh (with-com-pairs.sh runs it through BENCH_WINE_RUN) and,
# while the program runs, watches for a request file that the program writes
# through Wine's Z: drive:
#
#   <build>/wine-state/unplug/portN     -> the link dosdevices/comN is removed
#                                          and the file renamed portN.done
#
# (Not "comN": Windows reads a file name COM1..COM9, with any extension, in
# any folder as the device itself.)
#
# Only links that with-com-pairs.sh made (into <build>/com-pairs) are ever
# removed; the harness's clean-up tolerates a link that is already gone.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
real=$here/../../../cmake/wine-run.sh

case "${1:-}" in
  --env|--stop|"") exec "$real" "$@" ;;
esac

build=${BENCH_BUILD_DIR:?BENCH_BUILD_DIR is set by with-com-pairs.sh}
requests=$build/wine-state/unplug
rm -rf "$requests"
mkdir -p "$requests"

watch() {
  local req n link
  while :; do
    for req in "$requests"/port*; do
      [ -f "$req" ] || continue
      case "$req" in *.done) continue ;; esac
      n=${req##*/port}
      [[ "$n" =~ ^[0-9]+$ ]] || { mv -f "$req" "$req.done"; continue; }
      link=$build/wineprefix/dosdevices/com$n
      if [ -L "$link" ]; then
        case "$(readlink "$link")" in "$build"/com-pairs/*) rm -f "$link" ;; esac
      fi
      mv -f "$req" "$req.done"
    done
    sleep 0.05
  done
}
watch </dev/null >/dev/null 2>&1 8>&- &
watcher=$!
trap 'kill $watcher 2>/dev/null; wait $watcher 2>/dev/null; rm -rf "$requests"' EXIT

"$real" "$@"
exit $?
