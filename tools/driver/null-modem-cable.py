#!/usr/bin/env python3
"""One null-modem cable between two ptys whose slave ends are linked as A and B.

    null-modem-cable.py LINK_A LINK_B

Bytes written to A arrive at B and bytes written to B arrive at A, each
direction relayed by a thread of its own. A single loop relaying both
directions (socat) blocks in its write to an end that is no longer read, and
then stops relaying the other way too: a device that stops reading would no
longer be heard either. Here a full end only holds up the bytes going into
it, so a line stalled one way still carries the other.

Both slave ends are held open here, as socat holds them: an end that nobody
has open keeps what arrives for it, and its closing is no hang-up for the
relay. The ends start raw, without echo. SIGTERM (or SIGINT/SIGHUP) ends the
cable: both ends vanish at once, as when the adapter is pulled out.
"""
import os
import signal
import sys
import threading
import tty


def make_end(link):
    master, slave = os.openpty()
    tty.setraw(slave)  # also turns echo off
    try:
        os.unlink(link)
    except FileNotFoundError:
        pass
    return master, slave


def relay(source, sink):
    # Blocking reads and writes: a full sink stalls only this thread.
    try:
        while True:
            data = os.read(source, 4096)
            if not data:
                break
            while data:
                data = data[os.write(sink, data):]
    except OSError as error:
        print(f"null-modem-cable: {error}", file=sys.stderr, flush=True)
    os._exit(1)  # a cable that carries one way only is not left running


def main():
    if len(sys.argv) != 3:
        print("usage: null-modem-cable.py LINK_A LINK_B", file=sys.stderr)
        return 2
    links = sys.argv[1:]
    ends = [make_end(link) for link in links]

    def end_cable(signum, frame):
        for link in links:
            try:
                os.unlink(link)
            except OSError:
                pass
        os._exit(0)

    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, end_cable)
    (master_a, _), (master_b, _) = ends
    for source, sink in ((master_a, master_b), (master_b, master_a)):
        threading.Thread(target=relay, args=(source, sink), daemon=True).start()
    # The links last, so that an end that shows up is already relayed.
    for link, (_, slave) in zip(links, ends):
        os.symlink(os.ttyname(slave), link)
    while True:
        signal.pause()


if __name__ == "__main__":
    sys.exit(main())
