#!/usr/bin/python3
"""ping.py SECONDS WINDOW...: asks each window, every 100 ms for SECONDS, whether
it is alive, as a window manager does (_NET_WM_PING), and prints the slowest
reply in milliseconds; fails when a window has not replied within a second."""
import select
import sys
import time

from Xlib import X, display, protocol

screen = display.Display()
root = screen.screen().root
# A client replies by sending the message back to the root window, for
# those that watch its structure.
root.change_attributes(event_mask=X.StructureNotifyMask)
PROTOCOLS = screen.intern_atom("WM_PROTOCOLS")
PING = screen.intern_atom("_NET_WM_PING")


def ping(window, stamp):
    window.send_event(protocol.event.ClientMessage(window=window, client_type=PROTOCOLS,
                                                   data=(32, [PING, stamp, window.id, 0, 0])))
    screen.flush()
    asked = time.monotonic()
    while time.monotonic() - asked < 1:
        while screen.pending_events():
            event = screen.next_event()
            if (event.type == X.ClientMessage and event.client_type == PROTOCOLS
                    and list(event.data[1][:3]) == [PING, stamp, window.id]):
                return (time.monotonic() - asked) * 1000
        select.select([screen.fileno()], [], [], 0.01)
    sys.exit(f"window {window.id:#x} did not answer within a second")


windows = [screen.create_resource_object("window", int(w, 0)) for w in sys.argv[2:]]
slowest, stamp, end = 0.0, 1, time.monotonic() + float(sys.argv[1])
while time.monotonic() < end:
    for window in windows:
        slowest = max(slowest, ping(window, stamp))
        stamp += 1
    time.sleep(0.1)
print(round(slowest))
