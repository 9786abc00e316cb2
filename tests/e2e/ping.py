#!/usr/bin/python3
"""ping.py SECONDS WINDOW: asks the window, every 100 ms for SECONDS, whether it
is alive, as a window manager does (_NET_WM_PING), and prints its slowest reply
in milliseconds; fails when it has not replied within a second."""
import select
import sys
import time

from Xlib import X, display, protocol

screen = display.Display()
# The reply goes to the root window, for those that watch its structure.
screen.screen().root.change_attributes(event_mask=X.StructureNotifyMask)
PROTOCOLS, PING = screen.intern_atom("WM_PROTOCOLS"), screen.intern_atom("_NET_WM_PING")
window = screen.create_resource_object("window", int(sys.argv[2], 0))
slowest, stamp, end = 0.0, 0, time.monotonic() + float(sys.argv[1])
while time.monotonic() < end:
    stamp += 1
    window.send_event(protocol.event.ClientMessage(window=window, client_type=PROTOCOLS,
                                                   data=(32, [PING, stamp, window.id, 0, 0])))
    screen.flush()
    asked = time.monotonic()
    while not any(event.type == X.ClientMessage and list(event.data[1][:3]) == [PING, stamp, window.id]
                  for event in [screen.next_event() for _ in range(screen.pending_events())]):
        if time.monotonic() - asked > 1:
            sys.exit(f"window {sys.argv[2]} did not answer within a second")
        select.select([screen.fileno()], [], [], 0.01)
    slowest = max(slowest, (time.monotonic() - asked) * 1000)
    time.sleep(0.1)
print(round(slowest))
