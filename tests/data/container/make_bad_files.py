#!/usr/bin/env python3
"""Writes the hand-made damaged MOV files of this folder (run it again after
changing a file's recipe; the files are committed)."""
import os
import random
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def atom(kind, *payload):
    body = b"".join(payload)
    return struct.pack(">I", 8 + len(body)) + kind.encode("latin-1") + body


def u32(*v):
    return struct.pack(">" + "I" * len(v), *v)


FTYP = atom("ftyp", b"qt  ", u32(0), b"qt  ", u32(0))


def video_trak(stsz=None, stco=None, stts=None, stsc=None, stss=None):
    stbl = atom("stbl",
                atom("stsd", u32(0, 1), atom("avc1", bytes(8))),
                stts if stts is not None else atom("stts", u32(0, 1, 10, 512)),
                stsc if stsc is not None else atom("stsc", u32(0, 1, 1, 1, 1)),
                stsz if stsz is not None else atom("stsz", u32(0, 0, 10), u32(*([16] * 10))),
                stco if stco is not None else atom("stco", u32(0, 10), u32(*[40 + 16 * i for i in range(10)])),
                stss if stss is not None else atom("stss", u32(0, 2, 1, 6)))
    return atom("trak",
                atom("tkhd", u32(0, 0, 0, 1, 0, 5120), bytes(52), u32(320 << 16, 240 << 16)),
                atom("mdia", atom("mdhd", u32(0, 0, 0, 12800, 5120, 0)),
                     atom("minf", stbl)))


def movie(trak):
    return atom("moov", atom("mvhd", u32(0, 0, 0, 1000, 400), bytes(80)), trak)


MDAT = atom("mdat", bytes(160))


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def main():
    rnd = random.Random(4)
    good = FTYP + MDAT + movie(video_trak())
    write("valid_small.mov", good)
    write("ftyp_then_random.mov", FTYP + bytes(rnd.getrandbits(8) for _ in range(3000)))
    write("truncated_moov.mov", good[: len(good) - 70])
    # An atom inside the track that claims to run past the movie's end.
    bad = movie(video_trak() + struct.pack(">I", 0x7FFFFFF0) + b"trak" + bytes(8))
    write("atom_past_parent.mov", FTYP + MDAT + bad)
    # Counts far beyond what the atoms hold.
    huge = video_trak(stsz=atom("stsz", u32(0, 0, 0xFFFFFFFF), u32(16, 16)),
                      stco=atom("stco", u32(0, 0xFFFFFFFF), u32(40)),
                      stts=atom("stts", u32(0, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF)),
                      stsc=atom("stsc", u32(0, 0xFFFFFFFF, 1, 0xFFFFFFFF, 1)),
                      stss=atom("stss", u32(0, 0xFFFFFFFF, 0)))
    write("huge_counts.mov", FTYP + MDAT + movie(huge))
    # Tables that disagree: chunks beyond the file, a chunk index past stco.
    mixed = video_trak(stco=atom("stco", u32(0, 3), u32(40, 0xFFFFFF00, 56)),
                       stsc=atom("stsc", u32(0, 2, 1, 1, 1, 5, 3, 1)),
                       stss=atom("stss", u32(0, 3, 0, 11, 1000)))
    write("inconsistent_tables.mov", FTYP + MDAT + movie(mixed))
    # Nesting far deeper than any recording.
    deep = atom("udta", u32(0))
    for _ in range(3000):
        deep = atom("udta", deep)
    write("deep_nesting.mov", FTYP + atom("moov", atom("mvhd", u32(0, 0, 0, 1000, 400), bytes(80)), deep))
    # 64-bit size smaller than its own header, then a size-0 atom inside moov.
    write("bad_large_size.mov", FTYP + u32(1) + b"mdat" + struct.pack(">Q", 8) + movie(video_trak()))
    write("zero_size_inside.mov", FTYP + atom("moov", atom("mvhd", u32(0, 0, 0, 1000, 400), bytes(80)),
                                              u32(0) + b"trak" + bytes(64)))
    # Sample sizes of 4 GB - 1 and a time scale of 0.
    wild = video_trak(stsz=atom("stsz", u32(0, 0xFFFFFFFF, 10)),
                      stts=atom("stts", u32(0, 2, 10, 0, 0xFFFFFFFF, 0xFFFFFFFF)))
    write("wild_sizes.mov", FTYP + MDAT + movie(wild))


if __name__ == "__main__":
    main()
