# Sourced by the Wine test runners whose program starts Pellfray. Pellfray
# listens on TCP port 23, and every build tree's Wine shares the host's
# network: two trees testing at once would have one Pellfray refused the
# port, or a test's console client talking to the other tree's Pellfray.
# ctest's RESOURCE_LOCK and the COM port lock are per tree, so the port has
# a lock of its own, one file for the whole machine.
#
#   take_port23_lock FD     waits (at most 10 minutes) and holds the lock on
#                           descriptor FD until the caller exits; false when
#                           it timed out
#
# The caller closes FD for whatever it starts that may outlive it (7>&-).

PORT23_LOCK=${BENCH_PORT23_LOCK:-/tmp/rfidbench-port23.lock}

take_port23_lock() {
  # Anyone may take it, whoever made the file first.
  [ -e "$PORT23_LOCK" ] || { : >>"$PORT23_LOCK" && chmod 666 "$PORT23_LOCK"; } 2>/dev/null
  eval "exec $1<\"\$PORT23_LOCK\"" || return 1
  flock -w 600 "$1"
}
