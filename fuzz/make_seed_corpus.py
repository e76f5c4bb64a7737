#!/usr/bin/env python3
"""Writes the committed seed corpora of the fuzz targets into corpus/<target>/.

Each seed follows the input layout described at the top of its harness.
Run it again only to change the seeds; the fuzz runs never write there.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc if data else 0


def with_crc(body):
    return body + struct.pack(">H", crc16(body))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(bytes(data))


# Tarnwick: the two example reports (12-byte FF header, 14-byte 55 AA).
FF_FRAME = bytes.fromhex("FFFFFFFF000003E800CEEF41")
AA_FRAME = bytes.fromhex("55AA0000000003E8411234CE4E33")
assert FF_FRAME[-2:] == struct.pack(">H", crc16(FF_FRAME[:-2]))
assert AA_FRAME[-2:] == struct.pack(">H", crc16(AA_FRAME[2:-2]))

# raw mode, pieces of 1-499 bytes
write("fuzz_tag_table", "raw_examples", b"\x04\x11" + FF_FRAME + AA_FRAME)
# raw mode, pieces of 1-4 bytes, ageing every piece, with the header search cases
write("fuzz_tag_table", "raw_header_search",
      b"\x08\x22" + b"\x00" + FF_FRAME + b"\xFF" + AA_FRAME + b"\xFF\xFF\xFF\xFE" + FF_FRAME)
# raw mode, lagging threads and drops, a long run of back-to-back reports
write("fuzz_tag_table", "raw_overflow", b"\xC6\x33" + (FF_FRAME + AA_FRAME) * 120)


def frame_op(kind55aa, id_, status, signal, extra=b"", damaged=False):
    op = 3 if damaged else 1
    flags = 0x02 | (1 if kind55aa else 0)
    out = bytes([op, flags]) + struct.pack(">I", id_) + bytes([status, signal & 0xFF])
    out += bytes(extra[: status >> 5]).ljust(status >> 5, b"\x00")
    if damaged:
        out += b"\x01"
    return out


structured = b"\x03\x44"  # structured, pieces of 1-32 bytes
structured += frame_op(False, 1000, 0x00, -50)
structured += frame_op(True, 1000, 0x41, -50, b"\x12\x34")
structured += frame_op(False, 5, 0x00, -40) + frame_op(False, 3, 0xE1, -45, b"1234567")
structured += frame_op(True, 0x80000000, 0x20, -60, b"\x99") + frame_op(False, 4, 0x0E, -30)
structured += frame_op(False, 6, 0x00, -70, damaged=True)
write("fuzz_tag_table", "structured_examples", structured)


def burst_op(count, base, stride, status, signal, downward=False, kind55aa=False):
    op = 2 | (4 if downward else 0) | (8 if kind55aa else 0)
    c = count - 1
    size = bytes([c]) if c < 256 else bytes([c // 16, c % 16])
    if c >= 256:
        op |= 16
    return bytes([op]) + size + struct.pack(">I", base) + bytes([stride, status, signal & 0xFF])


# structured, pieces up to 499, ageing every 4th piece, snapshots: fills the table past 3000
write("fuzz_tag_table", "structured_full_table",
      b"\x35\x55" + burst_op(3001, 0x80000800, 1, 0x00, -33, downward=True) + burst_op(40, 0x7FFFFFF0, 7, 0x41, -22))
write("fuzz_tag_table", "structured_repeats",
      b"\x2B\x66" + burst_op(40, 77, 0, 0x20, -50, kind55aa=True) + frame_op(False, 77, 0x0E, -10))


# Console: chunks, each a length byte and its bytes.
def chunks(*parts):
    out = b""
    for p in parts:
        out += bytes([len(p)]) + p
    return out


write("fuzz_console", "help", chunks(b"help\r"))
write("fuzz_console", "commands", chunks(b"show a b c d e f\r", b"set 1  2\r\n", b"SET\r", b"a\x00b x\r"))
write("fuzz_console", "editing", chunks(b"\tset 1 2\x08\x083\r", b"\x7f\x7f\x7fhel\rby\rBYEBYE\r"))
write("fuzz_console", "full_line", chunks(b"x" * 127 + b"y\r", b"\r", b"x" * 123 + b"\t\r", b"x" * 124 + b"\t\r"))
write("fuzz_console", "unknown", chunks(b"   \r", b"nothing here\r", b"helper 1\r", b"extra 1\r", b"\x80\xff q\r"))

# Pellfray text: flags, key (low byte, high byte), text.
write("fuzz_pellfray_text", "hex_pairs", b"\x00a\x00" + b"01 02 0A ff 0102 ABC A BC")
write("fuzz_pellfray_text", "hex_separators", b"\x00G\x00" + b"AB\r\n\t CD")
write("fuzz_pellfray_text", "hex_long", b"\x09C\x00" + b"0A 1B 2C ")
write("fuzz_pellfray_text", "numeric_limit", b"\x000\x00" + b"100000")
write("fuzz_pellfray_text", "numeric_period", b"\x005\x00" + b"25")
write("fuzz_pellfray_text", "numeric_zero", b"\x00\x08\x00" + b"0")
write("fuzz_pellfray_text", "numeric_sign", b"\x007\x00" + b"  -2147483649")
write("fuzz_pellfray_text", "key_wide", b"\x005\xF3" + b"1")

# Chunk processor: operations.
wake = with_crc(b"\xFF\xFF\xFF\xFF\x00\x12\x34")
assert len(wake) == 9
arm = b"\xC1" + struct.pack(">I", 1) + b"\x05\x0A"
write("fuzz_chunk_processor", "wake_up", arm + bytes([len(wake)]) + wake + b"\xC0" + bytes([len(wake)]) + wake + b"\xC0")
write("fuzz_chunk_processor", "wake_up_built", arm + b"\xC4\x12\x34\xCC\x01\x02\x07\xC0")
config_echo = with_crc(b"\xFF\xFF\xFF\xFF\x00\x00\x00\x01\x05\x0A")
write("fuzz_chunk_processor", "bad_crc", arm + b"\x04\xFF\xFF\xFF\xFF" + bytes([len(config_echo)]) + config_echo
      + b"\x05\xFF\xFF\xFF\xFF\x00\xC0")
write("fuzz_chunk_processor", "long_read", b"\xBF\x0F" + bytes(range(256)) * 4 + b"\xC0")
write("fuzz_chunk_processor", "skip_log", b"\x03abc\xC3\x03def\xC0\x03ghi\xC3\xC0\xC6\x00\x00\x00\x01\xFF")
write("fuzz_chunk_processor", "queue_full", b"\x01\x00" * 1000 + b"\xC0")
write("fuzz_chunk_processor", "wrap", b"\xC7\x03\xE6" + b"\x02\x01\x02" * 4 + arm + b"\xC4\x00\x00\xC0")
