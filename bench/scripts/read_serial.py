#!/usr/bin/python3
# What a user would write without Tavlo: read a line, search the value, print it.
import re, serial, sys
port = serial.Serial(sys.argv[1], 9600, timeout=2)
value = re.compile(r'([-+]?\s*[0-9]*[\.,]?[0-9]+)')
while True:
    line = port.readline()
    if not line:
        break
    m = value.search(line.decode('latin-1'))
    if m:
        print(m.group(1).replace(' ', ''), flush=True)
