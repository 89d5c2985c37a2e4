#!/usr/bin/python3
"""Names the functions in the page heap's backtraces.

Usage: tests/support/symbolize.py EXE < test-output
The page heap (page_heap.cpp) prints frames as "module+offset (address)";
the test builds carry no debug information but keep their symbol table, so
each frame of EXE is named by the nearest function symbol at or below it
(the MinGW nm). Other lines pass through unchanged.
"""
import bisect
import os
import re
import subprocess
import sys


def main():
    exe = sys.argv[1]
    listing = subprocess.run(["x86_64-w64-mingw32-nm", "-C", "--defined-only", exe],
                             stdout=subprocess.PIPE, text=True, check=True).stdout
    symbols = []
    for line in listing.splitlines():
        parts = line.split(" ", 2)
        if len(parts) == 3 and parts[1] in "tT":
            symbols.append((int(parts[0], 16), parts[2]))
    symbols.sort()
    starts = [address for address, _ in symbols]
    module = os.path.basename(exe).lower()
    frame = re.compile(r"(\S+)\+0x[0-9a-f]+ \((0x[0-9a-f]+)\)")
    for line in sys.stdin:
        line = line.rstrip("\n")
        found = frame.search(line)
        if found and found.group(1).lower() == module:
            address = int(found.group(2), 16)
            i = bisect.bisect_right(starts, address) - 1
            if i >= 0:
                line += "  %s+0x%x" % (symbols[i][1], address - starts[i])
        print(line)


if __name__ == "__main__":
    main()
