"""pyexpat_peer.py FILE: Python's pyexpat on FILE in 64 KiB pieces, with handlers for start
tags, end tags and character data that do nothing. Prints "pyexpat WALL CPU": seconds by the
clock and in processor time."""
import sys
import time
import xml.parsers.expat


def noop(*args):
    pass


with open(sys.argv[1], "rb") as f:
    start, cpu = time.perf_counter(), time.process_time()
    p = xml.parsers.expat.ParserCreate()
    p.StartElementHandler = noop
    p.EndElementHandler = noop
    p.CharacterDataHandler = noop
    while True:
        piece = f.read(65536)
        if not piece:
            break
        p.Parse(piece, False)
    p.Parse(b"", True)
    print("pyexpat", f"{time.perf_counter() - start:.6f}", f"{time.process_time() - cpu:.6f}")
