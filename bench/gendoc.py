"""gendoc.py KIND SIZE FILE: writes a generated document.

items N      <doc>, then N lines <item>text</item>, then </doc>: four events a line (start,
             text, end, the newline), each a handle and one short value for a procedure.
records MB   records of about 1.1 KB until the file holds MB megabytes (10**6 bytes): a record
             has attributes, a short and a long text (about 1 000 characters), nine events.
"""
import sys

WORDS = ("quill ink parchment scribe margin folio vellum rubric gloss codex lectern "
         "binding spine colophon catchword quire").split()


def body(n):
    words = []
    length = 0
    i = n
    while length < 1000:
        w = WORDS[i % len(WORDS)]
        words.append(w)
        length += len(w) + 1
        i = (i * 7 + 3) % 1000003
    return " ".join(words)


def items(out, count):
    out.write("<doc>\n")
    line = "<item>text</item>\n"
    block = line * 1000
    for _ in range(count // 1000):
        out.write(block)
    out.write(line * (count % 1000))
    out.write("</doc>\n")


def records(out, megabytes):
    out.write('<?xml version="1.0" encoding="UTF-8"?>\n<records>\n')
    target = megabytes * 10**6
    written = 0
    n = 0
    while written < target:
        n += 1
        record = (f'<rec id="r{n}" kind="k{n % 7}"><name>Record {n}</name>'
                  f"<body>{body(n)}</body></rec>\n")
        out.write(record)
        written += len(record)
    out.write("</records>\n")


def main():
    kind, size, path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    with open(path, "w", encoding="utf-8") as out:
        {"items": items, "records": records}[kind](out, size)


main()
