#!/usr/bin/env python3
"""Runs one Windows test program under Wine with two pseudo-terminals mapped as COM ports.

COM5 is the data line: the other end echoes every byte back, and can send a byte later or hang up.
COM6 is the control line: the program sends one command per line and reads the answer.

  TERMIOS          -> "<speed> <bits> <parity> <stop>" of COM5 as the system has set it up
                      (parity: N, O, E, M or S; stop: 1 or 2)
  LATER <ms> <b>   -> sends byte b on COM5 after ms milliseconds; answers "OK"
  HANGUP           -> closes the far end of COM5, as a pulled cable would; answers "OK"

The program's standard output is passed through; its exit status is this script's.
"""
import os
import select
import signal
import subprocess
import sys
import termios
import time
import tty

SPEEDS = {getattr(termios, n): int(n[1:]) for n in dir(termios) if n.startswith("B") and n[1:].isdigit()}


def termios_text(fd):
    iflag, oflag, cflag, lflag, ispeed, ospeed, cc = termios.tcgetattr(fd)
    bits = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}[cflag & termios.CSIZE]
    cmspar = getattr(termios, "CMSPAR", 0o10000000000)
    if not cflag & termios.PARENB:
        parity = "N"
    elif cflag & cmspar:
        parity = "M" if cflag & termios.PARODD else "S"
    else:
        parity = "O" if cflag & termios.PARODD else "E"
    stop = 2 if cflag & termios.CSTOPB else 1
    return f"{SPEEDS.get(ospeed, -1)} {bits} {parity} {stop}"


def main():
    # Ended by a time-out: the Wine program this script started goes with it.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(124))
    prefix, wine, program = sys.argv[1], sys.argv[2], sys.argv[3:]
    data_master, data_slave = os.openpty()
    control_master, control_slave = os.openpty()
    for fd in (data_slave, control_slave):
        tty.setraw(fd)
    dosdevices = os.path.join(prefix, "dosdevices")
    os.makedirs(dosdevices, exist_ok=True)
    for name, fd in (("com5", data_slave), ("com6", control_slave)):
        link = os.path.join(dosdevices, name)
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(os.ttyname(fd), link)

    child = subprocess.Popen([wine] + program, stdin=subprocess.DEVNULL)
    later = []  # (due time, byte)
    line = b""
    try:
        while child.poll() is None:
            now = time.monotonic()
            for due, byte in [x for x in later if x[0] <= now]:
                later.remove((due, byte))
                if data_master is not None:
                    os.write(data_master, bytes([byte]))
            wait = min([d for d, _ in later], default=now + 0.1) - now
            fds = [control_master] + ([data_master] if data_master is not None else [])
            ready, _, _ = select.select(fds, [], [], max(0.0, min(wait, 0.1)))
            if data_master is not None and data_master in ready:
                try:
                    chunk = os.read(data_master, 4096)
                except OSError:
                    chunk = b""
                if chunk:
                    os.write(data_master, chunk)
            if control_master in ready:
                try:
                    line += os.read(control_master, 4096)
                except OSError:
                    continue
                while b"\n" in line:
                    command, line = line.split(b"\n", 1)
                    words = command.decode("ascii", "replace").split()
                    answer = "?"
                    if words == ["TERMIOS"]:
                        answer = termios_text(data_slave)
                    elif len(words) == 3 and words[0] == "LATER":
                        later.append((time.monotonic() + int(words[1]) / 1000.0, int(words[2]) & 255))
                        answer = "OK"
                    elif words == ["HANGUP"] and data_master is not None:
                        os.close(data_master)
                        data_master = None
                        # The slave end this script holds would keep the line up.
                        os.close(data_slave)
                        data_slave = None
                        answer = "OK"
                    os.write(control_master, (answer + "\n").encode())
                    if os.environ.get("PEER_DEBUG"):
                        print("peer:", words, "->", answer, file=sys.stderr, flush=True)
        return child.returncode
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()


if __name__ == "__main__":
    sys.exit(main())
