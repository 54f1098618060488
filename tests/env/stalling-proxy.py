#!/usr/bin/env python3
"""A sound server's socket passed through, with one client's incoming data held up on demand: the
way a starved reader or a busy link delivers a stream late and then all at once, whatever server
sits behind it (a server that runs on its own clock, as PipeWire does, never lets a device's stall
reach its clients as a burst).

    stalling-proxy.py LISTEN SERVER MATCH STALL_SECONDS LOG

LISTEN and SERVER are unix socket paths. A connection whose client has sent the bytes MATCH (the
name of its stream, say) is a held one. On SIGHUP, what the server sends to held connections over
the next STALL_SECONDS is kept back and then handed over at once; LOG gets a line "held BYTES" for
each stall, so that a test can tell that the stall met a stream. SIGTERM ends it.
"""
import os
import selectors
import signal
import socket
import sys
import time

listen_path, server_path, match = sys.argv[1], sys.argv[2], sys.argv[3].encode()
stall_seconds, log_path = float(sys.argv[4]), sys.argv[5]

stall_until = None        # set by SIGHUP; the stall ends at this monotonic time
running = True


def start_stall(*_):
    global stall_until
    stall_until = time.monotonic() + stall_seconds


def stop(*_):
    global running
    running = False


signal.signal(signal.SIGHUP, start_stall)
signal.signal(signal.SIGTERM, stop)


class Link:
    def __init__(self, client):
        self.client = client
        self.server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.server.connect(server_path)
        self.seen = b''           # the client's last bytes, so that MATCH split over reads is found
        self.matched = False
        self.held = bytearray()
        self.closed = False

    def close(self):
        if self.closed:
            return
        self.closed = True
        links.remove(self)
        for s in (self.client, self.server):
            try:
                sel.unregister(s)
            except (KeyError, ValueError):
                pass
            s.close()


def log(line):
    with open(log_path, 'a') as f:
        f.write(line + '\n')


try:
    os.unlink(listen_path)
except FileNotFoundError:
    pass
listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
# Listening before the socket has its name: a client that finds the name must not be refused.
listener.bind(listen_path + ".new")
listener.listen(16)
os.rename(listen_path + ".new", listen_path)
sel = selectors.DefaultSelector()
sel.register(listener, selectors.EVENT_READ, None)
links = []
stalled = False           # a stall is under way
held_total = 0

while running:
    now = time.monotonic()
    if stall_until is not None and not stalled:
        stalled, held_total = True, 0
    if stalled and now >= stall_until:
        for link in list(links):
            if link.held:
                held_total += len(link.held)
                try:
                    link.client.sendall(link.held)
                except OSError:
                    link.close()
                    continue
                link.held.clear()
        log('held %d' % held_total)
        stalled, stall_until = False, None
    timeout = max(0.0, stall_until - now) if stalled else 0.2
    for key, _ in sel.select(timeout):
        if key.data is None:
            conn, _ = listener.accept()
            try:
                link = Link(conn)
            except OSError:
                conn.close()
                continue
            links.append(link)
            sel.register(conn, selectors.EVENT_READ, (link, True))
            sel.register(link.server, selectors.EVENT_READ, (link, False))
            continue
        link, from_client = key.data
        if link.closed:       # closed by an earlier event of this round
            continue
        try:
            data = key.fileobj.recv(65536)
            if not data:
                link.close()
            elif from_client:
                if not link.matched:
                    link.seen = (link.seen + data)[-(len(data) + len(match)):]
                    link.matched = match in link.seen
                link.server.sendall(data)
            elif stalled and link.matched:
                link.held += data
            else:
                link.client.sendall(data)
        except OSError:
            link.close()
