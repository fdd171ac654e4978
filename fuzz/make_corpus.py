#!/usr/bin/env python3
# Writes the seed corpus of every fuzz target: real frames and texts, laid out the way
# FuzzedDataProvider reads them (strings from the front, numbers from the back).
"""Usage: fuzz/make_corpus.py   (rewrites fuzz/corpus/<target>/seed-*; other inputs stay)"""
import hashlib
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


class Input:
    """Builds one input: numbers go to the back in the order they are consumed."""

    def __init__(self):
        self.front = bytearray()
        self.back = []

    def integral(self, value, lo, hi):
        span = hi - lo
        value -= lo
        parts = []
        offset = 0
        while offset < 64 and (span >> offset) > 0:
            parts.append(value >> offset & 0xFF)
            offset += 8
        # The provider shifts earlier bytes up: the first byte it takes is the most significant.
        self.back.extend(reversed(parts))
        return self

    def boolean(self, value):
        return self.integral(1 if value else 0, 0, 255)

    def bytes(self, data):
        self.front += data
        return self

    def string(self, data):
        """A ConsumeRandomLengthString: backslashes doubled, ended by a backslash and 'x'."""
        self.front += data.replace(b"\\", b"\\\\") + b"\\x"
        return self

    def build(self):
        return bytes(self.front) + bytes(reversed(self.back))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data)


def sum8(body):
    return sum(body) & 0xFF


def aa(body, header=0xAA):
    return bytes([header]) + body + bytes([sum8(body)])


def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def rtu(body):
    return body + struct.pack("<H", crc16(body))


H = bytes.fromhex
AA_MEASURE = aa(H("00002200030000 04D2006E".replace(" ", "")))
AA_VOLTAGE = aa(H("8000060001 0CE4".replace(" ", "")))
AA_STATUS_85 = aa(H("8500000001 0000".replace(" ", "")))
AA_LASER_ON = aa(H("0001BE00010001"))
EE_ERROR = aa(H("0000220001 0004".replace(" ", "")), 0xEE)
RTU_MEASURE = rtu(H("010406000004D2006E"))
RTU_VOLTAGE = rtu(H("0104020CE4"))
RTU_EXCEPTION = rtu(H("018402"))
RTU_WRITE_ECHO = rtu(H("01060001FFFB"))
RTU_MODE_ECHO = rtu(H("010106000200"))
NOISE = H("13F70055AA01")


def splitter():
    static = {
        "aa-measurement": (0, AA_MEASURE),
        "aa-voltage": (0, AA_VOLTAGE),
        "aa-ee-error": (0, EE_ERROR),
        "aa-merged-three": (0, AA_MEASURE + AA_VOLTAGE + AA_MEASURE),
        "aa-noise-between": (0, NOISE + AA_MEASURE + NOISE + AA_STATUS_85),
        "aa-cut-short": (0, AA_MEASURE[:7]),
        "aa-stop-byte": (0, H("58")),
        "rtu-measurement": (1, RTU_MEASURE),
        "rtu-merged": (1, RTU_MEASURE + RTU_VOLTAGE + RTU_EXCEPTION),
        "rtu-noise-between": (1, NOISE + RTU_WRITE_ECHO + NOISE + RTU_MODE_ECHO),
        "rtu-corrupt-crc": (1, RTU_MEASURE[:-1] + b"\x00"),
    }
    for name, (mode, data) in static.items():
        write("fuzz_splitter", "whole-" + name, Input().integral(mode | 2, 0, 255).bytes(data).build())

    # Stream scripts: (op, argument) with 0 bytes, 1 silence, 2 time passes, 3 port closed.
    def script(mode, steps):
        inp = Input().integral(mode, 0, 255)
        for op, arg in steps:
            inp.integral(op, 0, 3)
            if op == 0:
                inp.integral(len(arg), 1, 700).bytes(arg).integral(1, 0, 4)
            elif op == 1:
                inp.integral(arg, 5, 20)
            elif op == 2:
                inp.integral(arg, 0, 300)
        return inp.build()

    m = AA_MEASURE
    r = RTU_MEASURE
    scripts = {
        "aa-reply-in-two-pieces": (0, [(0, m[:5]), (1, 5), (0, m[5:]), (1, 5)]),
        "aa-piece-expires": (0, [(0, m[:5]), (1, 5), (2, 150)]),
        "aa-short-reply-held": (0, [(0, H("AA0000")), (1, 5), (2, 120)]),
        "aa-stream-without-silence": (0, [(0, (m + AA_VOLTAGE) * 30), (0, m * 10), (1, 5)]),
        "aa-noise-then-reply": (0, [(0, NOISE), (1, 10), (0, m), (1, 5)]),
        "aa-port-closed-mid-reply": (0, [(0, m[:6]), (3, None), (0, m), (1, 5)]),
        "rtu-reply-in-two-pieces": (1, [(0, r[:4]), (1, 5), (0, r[4:]), (1, 5)]),
        "rtu-stream-without-silence": (1, [(0, (r + RTU_VOLTAGE) * 40), (1, 5)]),
        "rtu-exception-and-echo": (1, [(0, RTU_EXCEPTION), (1, 5), (0, RTU_WRITE_ECHO), (1, 5)]),
    }
    for name, (mode, steps) in scripts.items():
        write("fuzz_splitter", "stream-" + name, script(mode, steps))


def hextext():
    texts = {
        "single-measurement": b"AA 00 00 20 00 01 00 00 21",
        "packed": b"AA0000200001000021",
        "lower-case": b"aa 0f",
        "odd-digit": b"AA0",
        "typo": b"AZ 00",
        "empty": b"",
        "blanks-only": b"   ",
        "chinese": "测量 AA".encode(),
        "tab": b"AA\t00",
    }
    for name, text in texts.items():
        write("fuzz_hextext", "utf8-" + name, Input().integral(0, 0, 2).bytes(text).build())
    write("fuzz_hextext", "utf16-hex", Input().integral(1, 0, 2).bytes("AA 01".encode("utf-16-le")).build())
    write("fuzz_hextext", "utf16-lone-surrogate", Input().integral(1, 0, 2).bytes(b"\x00\xd8A\x00").build())
    for name, data in {"aa-measurement": AA_MEASURE, "rtu-measurement": RTU_MEASURE, "nothing": b""}.items():
        write("fuzz_hextext", "bytes-" + name, Input().integral(2, 0, 2).bytes(data).build())


def timeofday():
    texts = {
        "noon": (43200000, b"12:00:00.000"),
        "last-ms": (86399999, b"23:59:59.999"),
        "all-nines": (0, b"99:99:99.999"),
        "signs": (1, b"-9:+9:-9.-99"),
        "short": (2, b"12:3"),
        "letters": (3, b"ab:cd:ef.ghi"),
        "empty": (4, b""),
    }
    for name, (ms, text) in texts.items():
        write("fuzz_timeofday", name, Input().integral(ms, 0, 86399999).boolean(False).bytes(text).build())
    write("fuzz_timeofday", "utf16-clock",
          Input().integral(5, 0, 86399999).boolean(True).bytes("01:02:03.004".encode("utf-16-le")).build())


def replies():
    def one(sent, reply, language, wire=True, search=False, address_i=-1, distance=1234):
        inp = Input().integral(1 if wire else 0, 0, 7).integral(language, 0, 1)
        inp.integral(7, -2**31, 2**31 - 1).integral(43200000, 0, 86399999)
        inp.integral(0, -1, 3).integral(1, 0, 2).integral(80, -2**63, 2**63 - 1)
        inp.boolean(search).integral(address_i, -1, 127)
        inp.string(sent).string(reply)
        inp.integral(0, -2**31, 0).integral(300, 300, 2**31 - 1)
        inp.integral(distance, -2**31, 2**31 - 1).integral(7, -2**31, 2**31 - 1).integral(0, 0, 1)
        return inp.build()

    aa_sent = H("AA0000200001000021")
    rtu_sent = rtu(H("010400040003"))
    seeds = {
        "aa-measurement": (aa_sent, AA_MEASURE),
        "aa-voltage": (H("AA80000686"), AA_VOLTAGE),
        "aa-ee-error": (aa_sent, EE_ERROR),
        "aa-laser-on": (H("AA0001BE00010001C1"), AA_LASER_ON),
        "aa-set-address": (H("AA0100100001000214"), aa(H("0100100001 0002".replace(" ", "")))),
        "aa-offset-read": (H("AA80001292"), aa(H("8000120001FFFB"))),
        "aa-baud": (H("AA0000140001000718"), aa(H("00001400010007"))),
        "rtu-measurement": (rtu_sent, RTU_MEASURE),
        "rtu-exception": (rtu_sent, RTU_EXCEPTION),
        "rtu-laser": (rtu(H("01050000FF00")), rtu(H("01050000FF00"))),
        "rtu-mode": (rtu(H("010106000201")), rtu(H("010106000201"))),
        "rtu-set-offset": (rtu(H("01060001FFFB")), RTU_WRITE_ECHO),
        "rtu-angle": (rtu(H("010400050002")), rtu(H("01040400000078"))),
        "rtu-address": (rtu(H("010300000001")), rtu(H("0103020001"))),
    }
    for name, (sent, reply) in seeds.items():
        for language in (0, 1):
            write("fuzz_replies", "%s-%s" % (name, "zh" if language == 0 else "en"), one(sent, reply, language))
    write("fuzz_replies", "aa-status-during-search", one(H("AA85000085"), AA_STATUS_85, 1, search=True, address_i=9))
    write("fuzz_replies", "text-markup-in-ee", one(b"x", b"EE<b>&amp;</b>", 1, wire=False))
    write("fuzz_replies", "distance-near-int-limit", one(aa_sent, AA_MEASURE, 0, distance=2**31 - 1))


def commands():
    def one(address, offset, old, new, mode, baud, speed, utf16=False):
        inp = Input()
        for text in (address, offset, old, new):
            inp.string(text.encode("utf-16-le") if utf16 else text.encode())
            inp.boolean(not utf16)
        return inp.integral(mode, 0, 1).integral(baud, 0, 7).integral(speed, 0, 2).build()

    seeds = {
        "aa-defaults": ("00", "0", "1", "2", 0, 3, 0),
        "aa-address-127-offset-minus-5": ("127", "-5", "1", "2", 0, 7, 2),
        "aa-address-128-refused": ("128", "40000", "200", "5", 0, 0, 1),
        "rtu-address-247": ("247", "65535", "1", "247", 1, 5, 1),
        "rtu-broadcast-0": ("0", "-32768", "0", "0", 1, 7, 0),
        "empty-fields": ("", "", "", "", 0, 0, 0),
        "overflowing-numbers": ("99999999999", "99999999999", "-1", "256", 1, 1, 1),
        "non-ascii": ("１２", "五", "é", "ß", 0, 2, 2),
        "blanks-and-signs": (" 7 ", "+12", " 0010", "-0", 0, 4, 0),
    }
    for name, args in seeds.items():
        write("fuzz_commands", name, one(*args))
    write("fuzz_commands", "utf16-fields", one("12", "-7", "3", "4", 1, 3, 1, utf16=True))


if __name__ == "__main__":
    splitter()
    hextext()
    timeofday()
    replies()
    commands()
