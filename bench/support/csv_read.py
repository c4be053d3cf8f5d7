"""Reads a CSV file with Python's csv module, keeping every row, and prints the seconds it took.

Used by the benchmarks as the peer to compare with: same file, same run.
Usage: csv_read.py PATH
"""
import csv
import sys
import time

start = time.perf_counter()
# latin-1 maps every byte to one character: no decoding cost, nothing refused.
with open(sys.argv[1], newline="", encoding="latin-1") as f:
    rows = list(csv.reader(f))
elapsed = time.perf_counter() - start
print(f"{elapsed:.6f} {len(rows)}")
