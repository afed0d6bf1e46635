#!/usr/bin/env python3
"""Writes examples/pluck.wav: three seconds of plucked strings, mono, 16-bit,
22050 Hz. Each pluck starts with a sharp attack, so the delay of the right
channel in the converted file is easy to hear on headphones.

The strings are Karplus-Strong: a burst of noise circulating in a delay line
through an averaging filter. The noise comes from a fixed linear congruential
generator, so the file is the same on every run and every machine.
"""
import os
import struct

RATE = 22050
SECONDS = 3
NOTES = [(0.0, 220.0), (0.75, 277.18), (1.5, 329.63), (2.25, 440.0)]


def pluck(frequency, frames, seed):
    period = int(RATE / frequency)
    line = []
    for _ in range(period):
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        line.append((seed / 0x7FFFFFFF) * 2.0 - 1.0)
    out = []
    for i in range(frames):
        value = line[i % period]
        line[i % period] = 0.996 * 0.5 * (value + line[(i + 1) % period])
        out.append(value)
    return out


def main():
    total = RATE * SECONDS
    mix = [0.0] * total
    for n, (start, frequency) in enumerate(NOTES):
        first = int(start * RATE)
        for i, value in enumerate(pluck(frequency, total - first, seed=n + 1)):
            mix[first + i] += value
    peak = max(abs(v) for v in mix)
    samples = b"".join(struct.pack("<h", int(v / peak * 0.8 * 32767)) for v in mix)
    fmt = struct.pack("<HHIIHH", 1, 1, RATE, RATE * 2, 2, 16)
    body = (b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
            + b"data" + struct.pack("<I", len(samples)) + samples)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pluck.wav")
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)


if __name__ == "__main__":
    main()
