"""The same document through Python's pyexpat with Python callbacks, for comparison."""
import sys
import time
import xml.parsers.expat

count = int(sys.argv[1])
doc = "<doc>" + '<item n="1">text</item>' * count + "</doc>"
p = xml.parsers.expat.ParserCreate()
noop = lambda *a: None
p.StartElementHandler = noop
p.EndElementHandler = noop
p.CharacterDataHandler = noop
t = time.perf_counter()
p.Parse(doc, True)
print("pyexpat", count, f"{time.perf_counter() - t:.4f}")
