#!/usr/bin/env python3
"""A sound source whose clock runs fast or slow: writes 16-bit stereo silence into a FIFO (the file
of a PulseAudio module-pipe-source) at 44100 * (1 + ppm / 1e6) frames per real second, in 5 ms
steps paced from the start so that the rate does not wander. On SIGUSR1 a 1 kHz tone begins in the
next step and lasts `tone` seconds. On SIGUSR2 the next `drop` seconds of frames are lost: nothing
is written for that long, then the stream goes on where its clock is (a starved feeder). On SIGHUP
the source stalls for `stall` seconds and then hands over the frames it owes at once, none lost (a
busy USB microphone). SIGTERM ends it at once, also when a suspended source has stopped reading and
the write waits.

    skewed-source.py FIFO PPM [TONE_SECONDS [DROP_SECONDS [STALL_SECONDS [TONE_LOG]]]]

TONE_LOG, when given, gets a line with the frame index each tone starts at, and TONE_LOG.lost a
line with the frames each drop lost.
"""
import fcntl
import math
import os
import signal
import struct
import sys
import time

fifo, ppm = sys.argv[1], float(sys.argv[2])
tone_seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 0.5
rate = 44100 * (1 + ppm / 1e6)
tone_frames = int(tone_seconds * 44100)
drop_frames = int((float(sys.argv[4]) if len(sys.argv) > 4 else 0.3) * rate)
stall_seconds = float(sys.argv[5]) if len(sys.argv) > 5 else 0.3
tone_log = sys.argv[6] if len(sys.argv) > 6 else None
drop = False
stall_until = 0.0
tone_from = None          # frame index the tone starts at


def start_tone(*_):
    global tone_from
    tone_from = -1        # from the next frame written


def start_drop(*_):
    global drop
    drop = True


def start_stall(*_):
    global stall_until
    stall_until = time.monotonic() + stall_seconds


signal.signal(signal.SIGUSR1, start_tone)
signal.signal(signal.SIGUSR2, start_drop)
signal.signal(signal.SIGHUP, start_stall)
# Opened before the source opens it (read-write, so that this does not wait), so that the buffer
# size set here is the one the source finds: it reads the pipe in pieces as large as its buffer,
# and a small buffer keeps its delay small.
out = os.open(fifo, os.O_RDWR)
fcntl.fcntl(out, getattr(fcntl, 'F_SETPIPE_SZ', 1031), 4096)
silence = bytes(4 * 2048)
begin = time.monotonic()
written = 0
while True:
    if time.monotonic() < stall_until:
        time.sleep(0.005)
        continue
    due = int((time.monotonic() - begin) * rate)
    if drop:
        drop = False
        # A feeder that was itself starved when asked is behind its clock: what it owed by then
        # is lost with the drop.
        if tone_log:
            with open(tone_log + '.lost', 'a') as log:
                log.write('%d\n' % (due + drop_frames - written))
        written = due + drop_frames
    while written < due:
        n = min(due - written, 2048)
        if tone_from == -1:
            tone_from = written
            if tone_log:
                with open(tone_log, 'a') as log:
                    log.write('%d\n' % written)
        if tone_from is not None and tone_from <= written < tone_from + tone_frames:
            # The tone's phase follows the source's own frame count, as a real device's would.
            chunk = bytearray()
            for k in range(written, written + n):
                i = k - tone_from
                v = int(16000 * math.sin(2 * math.pi * 1000 * i / 44100)) if i < tone_frames else 0
                chunk += struct.pack('<hh', v, v)
            data = bytes(chunk)
        else:
            data = silence[:4 * n]
        os.write(out, data)
        written += n
    time.sleep(0.005)
