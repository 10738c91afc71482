"""Runs the real program for the reading service's end-to-end tests: tavlo --headless reading a pseudo-terminal
(fed by tavlo-sim or by the test), with a private home and configuration folder, stopped by process id.

Imported by reading_service_e2e.py and reading_page_e2e.py.
"""
import os
import re
import signal
import socket
import subprocess
import tempfile
import threading
import time
import tty
from xml.sax.saxutils import quoteattr

BIN = os.environ.get("TAVLO_BIN_DIR", "")


def free_port():
    """A TCP port free on both 127.0.0.1 and ::1 at the moment of asking."""
    for _ in range(100):
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as four:
            four.bind(("127.0.0.1", 0))
            port = four.getsockname()[1]
            try:
                with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as six:
                    six.bind(("::1", port))
            except OSError:
                continue
            return port
    raise RuntimeError("no free port on the loopback")


def settings_export(entries):
    """A settings export holding the entries of the node /com/corvane/Tavlo."""
    body = "".join(f"<entry key={quoteattr(k)} value={quoteattr(v)}/>\n" for k, v in entries.items())
    return ('<?xml version="1.0" encoding="UTF-8" standalone="no"?>\n'
            '<preferences EXTERNAL_XML_VERSION="1.0"><root type="user"><map/>'
            '<node name="com"><map/><node name="corvane"><map/><node name="Tavlo"><map>\n'
            + body + "</map></node></node></node></root></preferences>\n")


class Lines:
    """The lines a process writes to one of its pipes, collected by a thread, waited for by pattern."""

    def __init__(self, pipe):
        self.lines = []
        self._cond = threading.Condition()
        self._thread = threading.Thread(target=self._read, args=(pipe,), daemon=True)
        self._thread.start()

    def _read(self, pipe):
        for raw in iter(pipe.readline, b""):
            with self._cond:
                self.lines.append(raw.decode("utf-8", "replace").rstrip("\n"))
                self._cond.notify_all()
        with self._cond:
            self.lines.append(None)  # end of the pipe
            self._cond.notify_all()

    def wait_for(self, pattern, timeout=20.0, count=1):
        """The first `count` lines matching the pattern; raises when they do not come in time."""
        regex = re.compile(pattern)
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                found = [l for l in self.lines if l is not None and regex.search(l)]
                if len(found) >= count:
                    return found[:count]
                left = deadline - time.monotonic()
                if left <= 0 or (self.lines and self.lines[-1] is None):
                    raise AssertionError(f"no line matching {pattern!r}; got:\n" +
                                         "\n".join(l for l in self.lines if l is not None))
                self._cond.wait(left)

    def matching(self, pattern):
        regex = re.compile(pattern)
        with self._cond:
            return [l for l in self.lines if l is not None and regex.search(l)]

    def text(self):
        with self._cond:
            return "\n".join(l for l in self.lines if l is not None)

    def join(self, timeout=10.0):
        self._thread.join(timeout)


class Pty:
    """A pseudo-terminal whose master the test writes records to; tavlo opens the slave by name."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.name = os.ttyname(self.slave)

    def write(self, data):
        view = memoryview(data)
        while view:
            n = os.write(self.master, view)
            view = view[n:]

    def close(self):
        os.close(self.master)
        os.close(self.slave)


class Sim:
    """tavlo-sim on a pseudo-terminal, holding its records until start()."""

    def __init__(self, args):
        self.process = subprocess.Popen([os.path.join(BIN, "tavlo-sim")] + list(args) +
                                        ["--wait-usr1", "--linger", "60000"],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.name = self.process.stdout.readline().decode().strip()
        self.out = Lines(self.process.stdout)

    def start(self):
        os.kill(self.process.pid, signal.SIGUSR1)

    def wait_done(self, timeout=60.0):
        self.out.wait_for(r"done", timeout)

    def stop(self):
        stop_process(self.process)
        self.out.join()
        self.process.stdout.close()


def stop_process(process, grace=10.0):
    """Ends a process this test started: SIGTERM, then SIGKILL when it has not ended in time."""
    if process.poll() is not None:
        return process.returncode
    process.terminate()
    try:
        return process.wait(grace)
    except subprocess.TimeoutExpired:
        process.kill()
        return process.wait(10)


class Tavlo:
    """tavlo --headless on a port, with the reading service on a free port and a private home folder."""

    def __init__(self, settings, device, args=(), port=None, output="print", service=True, environment=None,
                 home=None):
        # A run after another one of the same user shares its home folder (and so its token).
        self.home = home or tempfile.TemporaryDirectory(prefix="tavlo-e2e-")
        self.own_home = home is None
        self.port = port or (free_port() if service else 0)
        path = os.path.join(self.home.name, "settings.xml")
        with open(path, "w", encoding="utf-8") as f:
            f.write(settings_export(settings))
        self.env = dict(os.environ, HOME=self.home.name, XDG_CONFIG_HOME=os.path.join(self.home.name, "config"),
                        QT_QPA_PLATFORM="offscreen")
        for name, value in (environment or {}).items():
            if value is None:
                self.env.pop(name, None)
            else:
                self.env[name] = value
        command = [os.path.join(BIN, "tavlo"), "--headless", "--settings", path, "--output", output]
        if service:
            command += ["--reading-service", str(self.port)]
        self.process = subprocess.Popen(command + list(args) + [device], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=self.env)
        self.out = Lines(self.process.stdout)
        self.err = Lines(self.process.stderr)

    def wait_ready(self, timeout=20.0):
        """Until the port is set up and the service listens."""
        self.err.wait_for(r"RTS: ", timeout)
        if self.port:
            self.err.wait_for(r"Reading service: ws://", timeout)
        return self

    def token(self):
        """The token as `tavlo --reading-service-token` prints it for this home folder."""
        result = subprocess.run([os.path.join(BIN, "tavlo"), "--reading-service-token"], env=self.env,
                                capture_output=True, text=True, timeout=30, check=True)
        return result.stdout.strip()

    def wait(self, timeout=60.0):
        status = self.process.wait(timeout)
        self.out.join()
        self.err.join()
        return status

    def stop(self):
        status = stop_process(self.process)
        self.out.join()
        self.err.join()
        return status

    def cleanup(self):
        stop_process(self.process)
        self.out.join()
        self.err.join()
        self.process.stdout.close()
        self.process.stderr.close()
        if self.own_home:
            self.home.cleanup()
