#!/usr/bin/env python3
"""Writes the installer's background music, assets/merik.mod.

A four-channel ProTracker module ("M.K."): every sample is synthesised
here, and the four patterns (A minor, Am - F - C - G, 125 BPM) are written
out note by note, so the whole song is ours and can be remade at will:

    python3 assets/make_module.py [output.mod]

Channel 1 carries the drums, 2 the bass, 3 the lead, 4 the chord pad. The
song loops from its end back to its start (about 31 seconds).
"""

import math
import struct
import sys
from pathlib import Path

# Samples are made for the playback rate of note C-2 (period 428 on a PAL
# Amiga), so a wave of 32 samples per cycle sounds as C when played at C-2.
BASE_RATE = 7093789.2 / (2 * 428)

NOTE_NAMES = ["C-", "C#", "D-", "D#", "E-", "F-", "F#", "G-", "G#", "A-", "A#", "B-"]
PERIODS = [
    856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
    428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,
    214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113,
]


def period(note):
    """'A-1' .. 'B-3' to its ProTracker period."""
    octave = int(note[2])
    return PERIODS[(octave - 1) * 12 + NOTE_NAMES.index(note[:2])]


class Noise:
    """A small linear congruential generator: the same noise every run."""

    def __init__(self, seed):
        self.state = seed

    def __call__(self):
        self.state = (self.state * 1103515245 + 12345) & 0x7FFFFFFF
        return (self.state / 0x3FFFFFFF) - 1.0


def to_bytes(wave, peak=0.92):
    """Scales to 8-bit signed, the loudest point at `peak` of full scale."""
    top = max(abs(v) for v in wave) or 1.0
    out = bytearray()
    for v in wave:
        s = int(round(v / top * peak * 127))
        out.append(max(-128, min(127, s)) & 0xFF)
    return bytes(out)


def harmonics(phase, weights):
    return sum(w * math.sin((k + 1) * phase) for k, w in enumerate(weights))


def kick():
    wave, phase = [], 0.0
    for n in range(1600):
        t = n / BASE_RATE
        freq = 48 + 120 * math.exp(-t / 0.025)
        phase += 2 * math.pi * freq / BASE_RATE
        wave.append(math.sin(phase) * math.exp(-t / 0.11))
    return wave


def snare():
    noise, wave, low = Noise(7), [], 0.0
    for n in range(2000):
        t = n / BASE_RATE
        low += 0.55 * (noise() - low)  # soften the 8-bit hiss a little
        body = math.sin(2 * math.pi * 185 * t) * math.exp(-t / 0.035)
        wave.append(0.75 * low * math.exp(-t / 0.07) + 0.6 * body)
    return wave


def hat():
    noise, wave, last = Noise(99), [], 0.0
    for n in range(700):
        t = n / BASE_RATE
        value = noise()
        wave.append((value - last) * math.exp(-t / 0.012))  # high-passed
        last = value
    return wave


def bass():
    wave = []
    for n in range(3000):
        t = n / BASE_RATE
        bright = math.exp(-t / 0.12)
        phase = 2 * math.pi * n / 64
        tone = harmonics(phase, [1.0, 0.55 * bright, 0.35 * bright ** 2, 0.2 * bright ** 3])
        attack = min(1.0, t / 0.004)
        release = min(1.0, (3000 - n) / 300)  # ends at zero: no click
        wave.append(tone * attack * release * (0.45 + 0.55 * math.exp(-t / 0.18)))
    return wave


def lead():
    """A soft pluck that settles into a steady tone; the tail loops."""
    decay_end, total = 2048, 3072
    wave = []
    for n in range(total):
        t = min(n, decay_end) / BASE_RATE
        bright = 0.25 + 0.75 * math.exp(-t / 0.08)
        level = 0.35 + 0.65 * math.exp(-t / 0.09)
        phase = 2 * math.pi * n / 32
        tone = harmonics(phase, [1.0, 0.45 * bright, 0.25 * bright, 0.12 * bright ** 2, 0.06 * bright ** 2])
        attack = min(1.0, n / 24)
        wave.append(tone * level * attack)
    return wave, decay_end, total - decay_end


def pad(third_cycles):
    """A looped chord: root, third and fifth, each doubled one cycle sharp per
    loop for a slow chorus. Whole cycles only, so the loop is seamless."""
    length = 4096
    root = 128  # cycles per loop: 32 samples per cycle, C at C-2
    voices = [(root // 2, 0.7), (root, 1.0), (third_cycles, 0.8), (root * 3 // 2, 0.7)]
    wave = []
    for n in range(length):
        x = 2 * math.pi * n / length
        value = 0.0
        for cycles, weight in voices:
            for detune in (0, 1):
                value += weight * harmonics((cycles + detune) * x, [1.0, 0.3, 0.12])
        wave.append(value)
    return wave


SAMPLES = [
    # name, wave, volume, loop start, loop length (in samples; 0 = one-shot)
    ("kick", kick(), 64, 0, 0),
    ("snare", snare(), 44, 0, 0),
    ("hat", hat(), 26, 0, 0),
    ("bass", bass(), 56, 0, 0),
]
_lead, _lead_loop, _lead_len = lead()
SAMPLES.append(("lead", _lead, 40, _lead_loop, _lead_len))
SAMPLES.append(("pad minor", pad(154), 30, 0, 4096))
SAMPLES.append(("pad major", pad(160), 30, 0, 4096))
KICK, SNARE, HAT, BASS, LEAD, PAD_MINOR, PAD_MAJOR = range(1, 8)

ROWS = 64


class Pattern:
    def __init__(self):
        self.cells = [[(0, 0, 0, 0)] * 4 for _ in range(ROWS)]

    def put(self, row, channel, note=None, sample=0, effect=0, param=0):
        self.cells[row][channel] = (period(note) if note else 0, sample, effect, param)

    def encode(self):
        out = bytearray()
        for row in self.cells:
            for per, sample, effect, param in row:
                out += bytes([
                    (sample & 0xF0) | ((per >> 8) & 0x0F),
                    per & 0xFF,
                    ((sample & 0x0F) << 4) | (effect & 0x0F),
                    param & 0xFF,
                ])
        return bytes(out)


# One chord a bar: (pad sample, pad note, bass root, bass fifth, bass octave).
CHORDS = [
    (PAD_MINOR, "A-1", "A-1", "E-1", "A-2"),
    (PAD_MAJOR, "F-1", "F-1", "C-2", "F-2"),
    (PAD_MAJOR, "C-2", "C-1", "G-1", "C-2"),
    (PAD_MAJOR, "G-1", "G-1", "D-1", "G-2"),
]


def chords_and_bass(p, drums_in):
    for bar, (pad_sample, pad_note, root, fifth, octave) in enumerate(CHORDS):
        base = bar * 16
        p.put(base, 3, pad_note, pad_sample)
        line = [(0, root), (3, root), (6, octave), (8, root), (11, root), (12, fifth), (14, octave)]
        if not drums_in:
            line = [(0, root), (6, octave), (8, root), (12, fifth)]
        for row, note in line:
            p.put(base + row, 1, note, BASS)


def drums(p, fill):
    for bar in range(4):
        base = bar * 16
        p.put(base + 0, 0, "C-2", KICK)
        p.put(base + 2, 0, "C-3", HAT)
        p.put(base + 4, 0, "C-2", SNARE)
        p.put(base + 6, 0, "C-3", HAT)
        p.put(base + 8, 0, "C-2", KICK)
        p.put(base + 10, 0, "C-2", KICK if bar % 2 else HAT)
        p.put(base + 12, 0, "C-2", SNARE)
        p.put(base + 14, 0, "C-3", HAT)
        if fill and bar == 3:
            p.put(base + 13, 0, "C-2", SNARE, 0xC, 28)
            p.put(base + 14, 0, "C-2", SNARE, 0xC, 36)
            p.put(base + 15, 0, "C-2", SNARE, 0xC, 48)


def melody(p, notes, volume=40):
    """(row, note) pairs; long notes get a gentle vibrato two rows in."""
    starts = [row for row, _ in notes] + [ROWS]
    for (row, note), end in zip(notes, starts[1:]):
        p.put(row, 2, note, LEAD, 0xC, volume)
        for held in range(row + 3, end):
            p.put(held, 2, effect=0x4, param=0x42)


def intro():
    p = Pattern()
    chords_and_bass(p, drums_in=False)
    p.put(0, 2, effect=0xC, param=0)  # the lead's looped tail ends with the song
    return p


def groove():
    p = Pattern()
    chords_and_bass(p, drums_in=True)
    drums(p, fill=False)
    # A quiet arpeggio of the chord tones, two rows apart.
    tones = [["A-2", "C-3", "E-3", "C-3"], ["F-2", "A-2", "C-3", "A-2"],
             ["G-2", "C-3", "E-3", "C-3"], ["G-2", "B-2", "D-3", "B-2"]]
    for bar, chord in enumerate(tones):
        for step in range(8):
            p.put(bar * 16 + step * 2, 2, chord[step % 4], LEAD, 0xC, 18)
    return p


def tune_a():
    p = Pattern()
    chords_and_bass(p, drums_in=True)
    drums(p, fill=False)
    melody(p, [(0, "E-3"), (6, "D-3"), (8, "C-3"), (10, "D-3"), (12, "E-3"),
               (16, "A-2"), (24, "C-3"), (28, "A-2"), (30, "G-2"),
               (32, "G-2"), (38, "E-2"), (40, "G-2"), (44, "C-3"),
               (48, "B-2"), (56, "A-2"), (60, "G-2"), (62, "D-3")])
    return p


def tune_b():
    p = Pattern()
    chords_and_bass(p, drums_in=True)
    drums(p, fill=True)
    melody(p, [(0, "C-3"), (4, "E-3"), (8, "A-3"), (14, "G-3"),
               (16, "F-3"), (24, "E-3"), (28, "C-3"),
               (32, "E-3"), (36, "D-3"), (38, "C-3"), (40, "G-2"),
               (48, "B-2"), (52, "D-3"), (56, "G-3"), (62, "B-2")])
    return p


PATTERNS = [intro(), groove(), tune_a(), tune_b()]
ORDER = [0, 1, 2, 3]


def module_bytes():
    out = bytearray(b"merik loop".ljust(20, b"\0"))
    datas = []
    for index in range(31):
        if index < len(SAMPLES):
            name, wave, volume, loop_start, loop_length = SAMPLES[index]
            data = bytearray(to_bytes(wave))
            if loop_length == 0:
                data[0:2] = b"\0\0"  # a one-shot's first word is its silent loop
            if len(data) % 2:
                data.append(0)
            repeat, replen = (loop_start // 2, loop_length // 2) if loop_length else (0, 1)
            out += name.encode("ascii").ljust(22, b"\0")
            out += struct.pack(">HBBHH", len(data) // 2, 0, volume, repeat, replen)
            datas.append(bytes(data))
        else:
            out += b"\0" * 22 + struct.pack(">HBBHH", 0, 0, 0, 0, 1)
    out += bytes([len(ORDER), 127])
    out += bytes(ORDER + [0] * (128 - len(ORDER)))
    out += b"M.K."
    assert len(out) == 1084
    for pattern in PATTERNS:
        out += pattern.encode()
    for data in datas:
        out += data
    return bytes(out)


def main():
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("merik.mod")
    data = module_bytes()
    target.write_bytes(data)
    print(f"{target}: {len(data)} bytes, {len(PATTERNS)} patterns, {len(ORDER)} positions")


if __name__ == "__main__":
    main()
