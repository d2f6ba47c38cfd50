#!/usr/bin/env python3
"""Writes the client's alarm tune as a Standard MIDI File (format 1, 96 ticks per quarter).

Four bars at 150 beats per minute (6.4 s): a two-tone siren over a running arpeggio
(E minor, C, D, E minor), a synth bass pulse and a plain back beat. Every note ends
before the tracks do, so a looping player never leaves a note hanging.

    make_alarm_tune.py OUT.mid        write the tune
    make_alarm_tune.py --check FILE   exit 1 unless FILE holds exactly this tune
"""
import struct
import sys

TICKS_PER_QUARTER = 96
QUARTER = TICKS_PER_QUARTER
EIGHTH = QUARTER // 2
BAR = 4 * QUARTER
TUNE_END = 4 * BAR
MICROSECONDS_PER_QUARTER = 400_000  # 150 beats per minute

# General MIDI programs (zero-based) and drum keys.
SQUARE_LEAD = 80
VIBRAPHONE = 11
SYNTH_BASS = 38
DRUM_CHANNEL = 9
KICK, SNARE = 36, 38


def varlen(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def meta(kind, payload):
    return bytes([0xFF, kind]) + varlen(len(payload)) + payload


class Track:
    def __init__(self, name):
        self.events = []  # (tick, order, bytes): note-offs sort before note-ons at one tick
        self.at(0, meta(0x03, name.encode("ascii")), order=0)

    def at(self, tick, data, order=1):
        self.events.append((tick, order, data))

    def setup(self, channel, program, volume, pan):
        self.at(0, bytes([0xC0 | channel, program]))
        self.at(0, bytes([0xB0 | channel, 7, volume]))
        self.at(0, bytes([0xB0 | channel, 10, pan]))

    def note(self, channel, tick, key, length, velocity):
        self.at(tick, bytes([0x90 | channel, key, velocity]), order=2)
        self.at(tick + length, bytes([0x80 | channel, key, 0]), order=1)

    def chunk(self):
        body = bytearray()
        now = 0
        for tick, _, data in sorted(self.events, key=lambda e: (e[0], e[1])):
            body += varlen(tick - now) + data
            now = tick
        body += varlen(TUNE_END - now) + meta(0x2F, b"")
        return b"MTrk" + struct.pack(">I", len(body)) + bytes(body)


def conductor():
    track = Track("Veltrin alarm")
    track.at(0, meta(0x58, bytes([4, 2, 24, 8])))  # 4/4
    track.at(0, meta(0x51, MICROSECONDS_PER_QUARTER.to_bytes(3, "big")))
    return track


def siren():
    channel, high, low = 0, 83, 76  # B5 and E5: the hi-lo fourth of a two-tone horn
    track = Track("Siren")
    track.setup(channel, SQUARE_LEAD, volume=112, pan=64)
    for beat in range(8):  # bars 1-2: one tone per beat
        track.note(channel, beat * QUARTER, high if beat % 2 == 0 else low, QUARTER - 8, 104)
    for step in range(8):  # bar 3: twice as fast
        track.note(channel, 2 * BAR + step * EIGHTH, high if step % 2 == 0 else low, EIGHTH - 6, 110)
    track.note(channel, 3 * BAR, high, 2 * QUARTER - 12, 116)  # bar 4: held, then a breath
    return track


def arpeggio():
    channel = 1
    bars = [
        [64, 67, 71, 76, 71, 67, 64, 67],  # E minor
        [60, 64, 67, 72, 67, 64, 60, 64],  # C
        [62, 66, 69, 74, 69, 66, 62, 66],  # D
        [64, 67, 71, 76],                  # E minor, rising to G5 below
    ]
    track = Track("Arpeggio")
    track.setup(channel, VIBRAPHONE, volume=100, pan=44)
    for bar, keys in enumerate(bars):
        for step, key in enumerate(keys):
            track.note(channel, bar * BAR + step * EIGHTH, key, EIGHTH - 4, 96 if step % 4 else 112)
    track.note(channel, 3 * BAR + 2 * QUARTER, 79, 2 * QUARTER - 16, 112)
    return track


def bass():
    channel = 2
    roots = [40, 36, 38, 40]  # E2 C2 D2 E2
    track = Track("Bass")
    track.setup(channel, SYNTH_BASS, volume=100, pan=64)
    for bar, root in enumerate(roots):
        beats = 4 if bar < 3 else 2
        for beat in range(beats):
            track.note(channel, bar * BAR + beat * QUARTER, root, QUARTER - 20, 100)
    return track


def drums():
    track = Track("Drums")
    track.at(0, bytes([0xB0 | DRUM_CHANNEL, 7, 96]))
    for bar in range(3):
        for beat in range(4):
            key = KICK if beat % 2 == 0 else SNARE
            track.note(DRUM_CHANNEL, bar * BAR + beat * QUARTER, key, EIGHTH, 100)
    track.note(DRUM_CHANNEL, 3 * BAR, KICK, EIGHTH, 110)
    # No cymbal: its long release would keep the synth busy for seconds after the tune.
    track.note(DRUM_CHANNEL, 3 * BAR, SNARE, EIGHTH, 110)
    return track


def tune():
    tracks = [conductor(), siren(), arpeggio(), bass(), drums()]
    header = b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks), TICKS_PER_QUARTER)
    return header + b"".join(track.chunk() for track in tracks)


def main(argv):
    if len(argv) == 3 and argv[1] == "--check":
        with open(argv[2], "rb") as f:
            if f.read() != tune():
                print(f"{argv[2]} differs from what {argv[0]} writes", file=sys.stderr)
                return 1
        return 0
    if len(argv) == 2:
        with open(argv[1], "wb") as f:
            f.write(tune())
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
