#!/usr/bin/env python3
"""A second, independent LTC implementation, to check chronolume-cli's LTC commands against
something that shares no code with them (they use libltc).

  ltc-reference.py encode --rate 25 --start 10:00:00:00 --frames 500 [--level -30] [--invert]
                          [--jump-at 250 --jump-to 01:23:45:00] [--sample-rate 48000] OUT.wav
  ltc-reference.py decode IN.wav        one line per frame, then a summary; exit 1 on a fault
  ltc-reference.py receive --seconds 12 --rate 25 --start 10:00:00:01 [--jump-to T]
                        ArtTimeCode on UDP 6454 checked against that sequence (resuming at T
                        after a jump), and the mean period within 1 % of the rate's

Written from SMPTE 12M's description of the 80-bit frame: BCD time fields, the drop-frame flag
(bit 10), the polarity correction bit (27, or 59 at 25 fps) that makes the number of zeros
even, user bits, and the sync word 0011 1111 1111 1101 in bits 64 to 79, biphase-mark coded
(a transition at every bit boundary, and one in the middle of a 1). Square edges, no filter.
"""
import argparse
import math
import socket
import struct
import sys
import time
import wave

RATES = {"24": (24, 24.0, False), "25": (25, 25.0, False),
         "29.97": (30, 30000 / 1001, True), "30": (30, 30.0, False)}
TYPES = {"24": 0, "25": 1, "29.97": 2, "30": 3}
SYNC = [0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1]


def parse_time(text):
    h, m, s, f = (int(x) for x in text.split(":"))
    return h, m, s, f


def to_number(t, rate):
    fps, _, drop = RATES[rate]
    h, m, s, f = t
    minutes = h * 60 + m
    n = (minutes * 60 + s) * fps + f
    if drop:
        n -= 2 * (minutes - minutes // 10)
    return n


def from_number(n, rate):
    fps, _, drop = RATES[rate]
    if drop:
        per_ten = 17982
        n %= per_ten * 6 * 24
        tens, rest = divmod(n, per_ten)
        # The first minute of ten keeps all 1800 numbers, the other nine lose 00 and 01.
        extra = 0 if rest < 1800 else 2 * ((rest - 1800) // 1798 + 1)
        n = tens * 18000 + rest + extra
    else:
        n %= fps * 86400
    f = n % fps
    s = n // fps
    return s // 3600, s // 60 % 60, s % 60, f


def text(t):
    return "%02d:%02d:%02d:%02d" % t


def frame_bits(t, rate):
    h, m, s, f = t
    bits = [0] * 80

    def put(first, value, width):
        for i in range(width):
            bits[first + i] = (value >> i) & 1

    put(0, f % 10, 4)
    put(8, f // 10, 2)
    bits[10] = 1 if RATES[rate][2] else 0
    put(16, s % 10, 4)
    put(24, s // 10, 3)
    put(32, m % 10, 4)
    put(40, m // 10, 3)
    put(48, h % 10, 4)
    put(56, h // 10, 2)
    bits[64:80] = SYNC
    polarity = 59 if rate == "25" else 27
    if bits.count(0) % 2:
        bits[polarity] = 1
    return bits


def encode(args):
    fps_code, fps, _ = RATES[args.rate]
    rate = args.sample_rate
    amplitude = 32767 * 10 ** (args.level / 20) * (-1 if args.invert else 1)
    numbers = []
    n = to_number(parse_time(args.start), args.rate)
    for i in range(args.frames):
        if args.jump_at is not None and i == args.jump_at:
            n = to_number(parse_time(args.jump_to), args.rate)
        numbers.append(n)
        n += 1
    # Every edge's time in bit halves; the level flips at each.
    edges = []
    half = 0
    for number in numbers:
        for bit in frame_bits(from_number(number, args.rate), args.rate):
            edges.append(half)
            if bit:
                edges.append(half + 1)
            half += 2
    edges.append(half)
    halves_per_second = fps * 160
    # A few samples past the closing edge, so it is heard.
    total = int(math.ceil(half / halves_per_second * rate)) + 4
    samples = bytearray()
    level = 1
    e = 0
    for i in range(total):
        position = i / rate * halves_per_second
        while e < len(edges) and edges[e] <= position + 1e-6:
            level = -level
            e += 1
        samples += struct.pack("<h", int(round(amplitude * level)))
    with wave.open(args.output, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(bytes(samples))
    print("%d frames at %s fps, %d samples" % (len(numbers), args.rate, total))


def decode_frames(path):
    with wave.open(path, "rb") as source:
        if source.getsampwidth() != 2:
            sys.exit("decode: not 16-bit")
        channels = source.getnchannels()
        rate = source.getframerate()
        raw = source.readframes(source.getnframes())
    values = struct.unpack("<%dh" % (len(raw) // 2), raw)[::channels]
    peak = max(1, max(abs(v) for v in values))
    # Edges: crossings of zero with a tenth of the peak as hysteresis.
    # The signal's start is the first bit's leading edge.
    edges = [0]
    state = values[0] > 0
    for i, v in enumerate(values):
        if state and v < -peak / 10 or not state and v > peak / 10:
            state = not state
            edges.append(i)
    # A bit cell is one long interval (0) or two short ones (1); the cell length is tracked.
    cell = None
    bits = []
    ends = []
    i = 1
    while i < len(edges):
        interval = edges[i] - edges[i - 1]
        if cell is None:
            cell = interval if interval > 0 else 1
        if interval > 0.75 * cell:
            bits.append(0)
            cell = 0.9 * cell + 0.1 * interval
            ends.append(edges[i])
            i += 1
        elif i + 1 < len(edges):
            bits.append(1)
            cell = 0.9 * cell + 0.1 * (edges[i + 1] - edges[i - 1])
            ends.append(edges[i + 1])
            i += 2
        else:
            break
    frames = []
    for k in range(79, len(bits)):
        if bits[k - 15:k + 1] != SYNC:
            continue
        word = bits[k - 79:k + 1]

        def get(first, width):
            return sum(word[first + j] << j for j in range(width))

        user = sum(get(4 + 8 * g, 4) << (4 * g) for g in range(8))
        t = (get(56, 2) * 10 + get(48, 4), get(40, 3) * 10 + get(32, 4),
             get(24, 3) * 10 + get(16, 4), get(8, 2) * 10 + get(0, 4))
        frames.append({"time": t, "drop": word[10], "user": user,
                       "even_zeros": word.count(0) % 2 == 0, "end": ends[k], "rate": rate})
    return frames


def decode(args):
    frames = decode_frames(args.input)
    faults = 0
    previous = None
    fps_seen = 0
    for fr in frames:
        fps_seen = max(fps_seen, fr["time"][3] + 1)
        note = []
        if fr["user"]:
            note.append("user bits %08x" % fr["user"])
            faults += 1
        if not fr["even_zeros"]:
            note.append("odd number of zeros")
            faults += 1
        print("%s%s end %d %s" % (text(fr["time"]), " DF" if fr["drop"] else "", fr["end"],
                                  " ".join(note)))
        previous = fr
    if not frames:
        print("no LTC found")
        return 1
    drop = frames[0]["drop"]
    rate = "29.97" if drop else {24: "24", 25: "25"}.get(fps_seen, "30")
    first = to_number(frames[0]["time"], rate)
    breaks = 0
    for k, fr in enumerate(frames):
        if fr["drop"] != drop:
            faults += 1
        if from_number(first + k, rate) != fr["time"]:
            breaks += 1
            first = to_number(fr["time"], rate) - k
    span = (previous["end"] - frames[0]["end"]) / previous["rate"]
    measured = (len(frames) - 1) / span if span > 0 else 0
    print("%d frames, rate %s (%.4f frames/s measured), drop-frame flag %s, %d breaks in "
          "the numbering, %d faults" % (len(frames), rate, measured, "set" if drop else "clear",
                                        breaks, faults))
    return 1 if faults or breaks else 0


def receive(args):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind(("0.0.0.0", 6454))
    sock.settimeout(0.5)
    got = []
    deadline = time.monotonic() + args.seconds
    while time.monotonic() < deadline:
        try:
            data = sock.recv(1024)
        except socket.timeout:
            continue
        if len(data) >= 19 and data[:8] == b"Art-Net\0" and data[8:10] == b"\x00\x97":
            f, s, m, h, kind = data[14:19]
            got.append((time.monotonic(), (h, m, s, f), kind))
    if len(got) < 2:
        print("received %d ArtTimeCode" % len(got))
        return 1
    n = to_number(parse_time(args.start), args.rate)
    faults = 0
    for k, (_, t, kind) in enumerate(got):
        if args.jump_to and t == parse_time(args.jump_to):
            n = to_number(t, args.rate) - k
        expected = from_number(n + k, args.rate)
        if t != expected or kind != TYPES[args.rate]:
            faults += 1
            if faults <= 5:
                print("datagram %d: %s type %d, expected %s type %d"
                      % (k, text(t), kind, text(expected), TYPES[args.rate]))
    # Over the run, the periods between arrivals, apart from the jump's own step.
    span = got[-1][0] - got[0][0]
    period = span / (len(got) - 1)
    nominal = 1 / RATES[args.rate][1]
    error = abs(period - nominal) / nominal
    print("%d ArtTimeCode from %s to %s, %d not as expected; mean period %.3f ms "
          "(nominal %.3f ms, %.2f %% off) over %.1f s"
          % (len(got), text(got[0][1]), text(got[-1][1]), faults, period * 1000,
             nominal * 1000, error * 100, span))
    return 1 if faults or error > 0.01 else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    e = commands.add_parser("encode")
    e.add_argument("--rate", choices=RATES, default="25")
    e.add_argument("--start", default="00:00:00:00")
    e.add_argument("--frames", type=int, default=250)
    e.add_argument("--sample-rate", type=int, default=48000)
    e.add_argument("--level", type=float, default=-18)
    e.add_argument("--invert", action="store_true")
    e.add_argument("--jump-at", type=int)
    e.add_argument("--jump-to", default="01:00:00:00")
    e.add_argument("output")
    d = commands.add_parser("decode")
    d.add_argument("input")
    r = commands.add_parser("receive")
    r.add_argument("--seconds", type=float, default=12)
    r.add_argument("--rate", choices=RATES, default="25")
    r.add_argument("--start", default="00:00:00:00")
    r.add_argument("--jump-to")
    args = parser.parse_args()
    if args.command == "encode":
        encode(args)
        return 0
    return decode(args) if args.command == "decode" else receive(args)


if __name__ == "__main__":
    sys.exit(main())
