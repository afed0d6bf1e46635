#!/usr/bin/env python3
"""Writes fuzz/corpus/: small WAVE files of the kinds the program meets, each
behind the fuzz target's control byte and delay text (see wav_fuzz.cc).

Run it again after changing it; the files are committed so that the fuzzer
and the replay test start from the same seeds everywhere.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
NO_DELAY = 0x80
IN_PLACE = 0x40
PIPED = 0x20
BY_NAME = IN_PLACE | PIPED  # in place through a file of its own folder


def chunk(tag, body, length=None):
    return tag + struct.pack("<I", (len(body) if length is None else length) & 0xFFFFFFFF) + body


def fmt(tag=1, channels=1, rate=8000, bits=16, per_sec=None, extra=b""):
    width = channels * (bits // 8)
    per_sec = (rate * width) & 0xFFFFFFFF if per_sec is None else per_sec
    return struct.pack("<HHIIHH", tag, channels, rate, per_sec, width, bits) + extra


def riff(*chunks, form=b"WAVE", tag=b"RIFF"):
    body = form + b"".join(chunks)
    return tag + struct.pack("<I", len(body)) + body


def seed(wav, delay=None, flags=0):
    text = b"" if delay is None else delay.encode()
    control = (NO_DELAY if delay is None else 0) | flags | len(text)
    return bytes([control]) + text + wav


def pluck_cut(frames):
    """The bundled example, cut to its first frames, its data size fixed."""
    with open(os.path.join(HERE, "..", "examples", "pluck.wav"), "rb") as f:
        whole = f.read()
    samples = whole[44:44 + 2 * frames]
    return riff(chunk(b"fmt ", whole[20:36]), chunk(b"data", samples))


RAMP8 = bytes(range(10, 250, 7))
EXT24 = struct.pack("<HHI", 22, 20, 4) + b"\1\0\0\0\0\0\x10\0\x80\0\0\xaa\0\x38\x9b\x71"
RAMP16 = b"".join(struct.pack("<h", v) for v in range(-32768, 32768, 4099))

SEEDS = {
    "mono16": seed(riff(chunk(b"fmt ", fmt()), chunk(b"data", RAMP16))),
    "mono8_delay": seed(riff(chunk(b"fmt ", fmt(bits=8, rate=1000)), chunk(b"data", RAMP8)), "0.002"),
    "mono8_negative": seed(riff(chunk(b"fmt ", fmt(bits=8, rate=1000)), chunk(b"data", RAMP8)), "-0.003"),
    "odd16": seed(riff(chunk(b"fmt ", fmt(rate=1000)), chunk(b"data", RAMP16 + b"\x7f")), "0.001"),
    "in_place": seed(riff(chunk(b"fmt ", fmt(bits=8, rate=500)), chunk(b"data", RAMP8)), "0.01", IN_PLACE),
    "in_place_named": seed(riff(chunk(b"fmt ", fmt(bits=8, rate=500)), chunk(b"data", RAMP8)), "0.01", BY_NAME),
    "in_place_named_odd16": seed(riff(chunk(b"LIST", b"xy"), chunk(b"fmt ", fmt(rate=1000)), chunk(b"data", RAMP16 + b"\x7f")), "-0.002", BY_NAME),
    "list_first": seed(riff(chunk(b"LIST", b"INFOtest"), chunk(b"fmt ", fmt()), chunk(b"data", RAMP16))),
    "data_first": seed(riff(chunk(b"data", RAMP8), chunk(b"fmt ", fmt(bits=8)))),
    "fmt18": seed(riff(chunk(b"fmt ", fmt(extra=b"\0\0")), chunk(b"data", RAMP16)), "1e-3"),
    "fmt14": seed(riff(chunk(b"fmt ", fmt()[:14]), chunk(b"data", RAMP16))),
    "odd_chunk_no_pad": seed(riff(chunk(b"junk", b"abc"), chunk(b"fmt ", fmt()), chunk(b"data", RAMP16))),
    "two_data": seed(riff(chunk(b"fmt ", fmt(bits=8)), chunk(b"data", RAMP8), chunk(b"data", RAMP8[:5]))),
    "stereo": seed(riff(chunk(b"fmt ", fmt(channels=2)), chunk(b"data", RAMP16))),
    "float": seed(riff(chunk(b"fmt ", fmt(tag=3, bits=32)), chunk(b"data", RAMP16))),
    "bits24": seed(riff(chunk(b"fmt ", fmt(bits=24)), chunk(b"data", RAMP16))),
    "no_data": seed(riff(chunk(b"fmt ", fmt()))),
    "no_fmt": seed(riff(chunk(b"data", RAMP16))),
    "data_cut_short": seed(riff(chunk(b"fmt ", fmt()), chunk(b"data", RAMP16, length=0xFFFFFFFF))),
    "data_to_the_end": seed(riff(chunk(b"fmt ", fmt(bits=8)), chunk(b"data", RAMP8))),
    "data_one_past_the_end": seed(riff(chunk(b"fmt ", fmt(bits=8)), chunk(b"data", RAMP8, length=len(RAMP8) + 1))),
    "fmt_cut_short": seed(riff(chunk(b"data", RAMP8), chunk(b"fmt ", fmt(bits=8))[:-1])),
    "data_empty": seed(riff(chunk(b"fmt ", fmt()), chunk(b"data", b""))),
    "negative_length": seed(riff(chunk(b"fmt ", fmt()), chunk(b"junk", b"", length=-8), chunk(b"data", RAMP16))),
    "zero_rate": seed(riff(chunk(b"fmt ", fmt(rate=0, per_sec=0)), chunk(b"data", RAMP8)), "+INF"),
    "huge_delay": seed(riff(chunk(b"fmt ", fmt(rate=0xFFFFFFFF)), chunk(b"data", RAMP16)), "1e9"),
    "nan_delay": seed(riff(chunk(b"fmt ", fmt()), chunk(b"data", RAMP16)), "-NAN"),
    "text_delay": seed(riff(chunk(b"fmt ", fmt()), chunk(b"data", RAMP16)), " 5.e-4x"),
    "not_wave": seed(riff(chunk(b"fmt ", fmt()), form=b"AVI ")),
    "not_riff": seed(riff(chunk(b"fmt ", fmt()), tag=b"RIFX")),
    "short": seed(b"RIFF\0\0"),
    "piped": seed(riff(chunk(b"LIST", b"abc"), chunk(b"fmt ", fmt(extra=b"\0\0")), chunk(b"data", RAMP16)), "0.001", PIPED),
    "piped_fmt14": seed(riff(chunk(b"fmt ", fmt()[:14]), chunk(b"data", RAMP16)), None, PIPED),
    "piped_cut_short": seed(riff(chunk(b"fmt ", fmt(bits=8)), chunk(b"data", RAMP8, length=1000)), None, PIPED),
    # wavwiden-en's wider reading: its formats, pad bytes, kept chunks.
    "extensible24": seed(riff(chunk(b"fmt ", fmt(tag=0xFFFE, bits=24, extra=EXT24)), chunk(b"LIST", b"INFO"), chunk(b"data", RAMP16[:-1]))),
    "float64_fact": seed(riff(chunk(b"fmt ", fmt(tag=3, bits=64, extra=b"\0\0")), chunk(b"fact", b"\2\0\0\0"), chunk(b"data", RAMP16)), "0.001"),
    "mulaw": seed(riff(chunk(b"fmt ", fmt(tag=7, bits=8, extra=b"\0\0")), chunk(b"data", RAMP8 + b"!")), "-0.002", IN_PLACE),
    "padded": seed(riff(chunk(b"fmt ", fmt()), chunk(b"bext", b"abc") + b"\0", chunk(b"data", RAMP16 + b"!") + b"\0", chunk(b"iXML", b"<x/>!") + b"\0"), None, BY_NAME),
    "piped_wide": seed(riff(chunk(b"fmt ", fmt(bits=32)), chunk(b"LIST", b"abcde") + b"\0", chunk(b"data", RAMP16, length=0xFFFFFFFF)), "0.001", PIPED),
    "in_place_kept": seed(riff(chunk(b"LIST", b"INFOab"), chunk(b"fmt ", fmt(bits=24)), chunk(b"data", RAMP16[:-1]), chunk(b"cue ", b"x") + b"\0"), "0.001", IN_PLACE),
    "pluck_cut": seed(pluck_cut(600)),
    "pluck_cut_short": seed(pluck_cut(600)[:900], "0.002"),
}


def main():
    folder = os.path.join(HERE, "corpus")
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
