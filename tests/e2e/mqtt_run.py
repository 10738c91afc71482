"""A real broker and real clients for the MQTT tests: Mosquitto started from the fleet example's configuration
(docs/examples/fleet) on a free loopback port, with its own password file, ACL and persistence folder; a
collector with a persistent session (Python's paho-mqtt 1.6 from Debian); and a TCP relay between Tavlo and the
broker that the test can cut, as a network does. Every process is stopped by its process id.

Imported by mqtt_e2e.py and by bench_e2e's MQTT run.
"""
import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time

import paho.mqtt.client as mqtt

from service_run import free_port

EXAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "examples", "fleet")
MOSQUITTO = os.environ.get("TAVLO_MOSQUITTO") or shutil.which("mosquitto") or "/usr/sbin/mosquitto"
USERS = {"bench1": "pw-bench1", "bench2": "pw-bench2", "collector": "pw-collector", "operator": "pw-operator"}


def wait_for_port(port, timeout=10.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.02)
    raise AssertionError(f"nothing listens on 127.0.0.1:{port}")


def make_certificates(folder, name="ca"):
    """A CA made here and a broker certificate for localhost and 127.0.0.1 signed by it: (ca, cert, key)."""
    ca_key, ca = os.path.join(folder, f"{name}.key"), os.path.join(folder, f"{name}.crt")
    key, csr, cert = (os.path.join(folder, f"{name}-broker.{x}") for x in ("key", "csr", "crt"))
    ext = os.path.join(folder, f"{name}-ext.cnf")
    with open(ext, "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n")
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run = lambda *a: subprocess.run(["openssl", *a], check=True, capture_output=True)  # noqa: E731
    run("req", "-x509", *ec, "-keyout", ca_key, "-out", ca, "-days", "2", "-subj", f"/CN=Tavlo test {name}")
    run("req", *ec, "-keyout", key, "-out", csr, "-subj", "/CN=localhost")
    run("x509", "-req", "-in", csr, "-CA", ca, "-CAkey", ca_key, "-CAcreateserial", "-out", cert, "-days", "2",
        "-extfile", ext)
    return ca, cert, key


class Broker:
    """Mosquitto from the example configuration with the test's port and folders substituted."""

    def __init__(self, persistence=True, tls=False):
        self.dir = tempfile.mkdtemp(prefix="tavlo-broker-")
        self.port = free_port()
        self.tls_port = free_port() if tls else None
        self.users = dict(USERS)
        self.passwd = os.path.join(self.dir, "passwd")
        for i, (user, password) in enumerate(self.users.items()):
            subprocess.run(["mosquitto_passwd", "-b"] + (["-c"] if i == 0 else []) + [self.passwd, user, password],
                           check=True, capture_output=True)
        acl = os.path.join(self.dir, "acl")
        shutil.copy(os.path.join(EXAMPLE, "tavlo.acl"), acl)
        with open(os.path.join(EXAMPLE, "mosquitto.conf"), encoding="utf-8") as f:
            text = f.read()

        def replace(old, new):
            nonlocal text
            assert old in text, f"the example configuration no longer holds {old!r}"
            text = text.replace(old, new)

        replace("listener 1883\n", f"listener {self.port} 127.0.0.1\n")
        replace("password_file /etc/mosquitto/tavlo.passwd", f"password_file {self.passwd}")
        replace("acl_file /etc/mosquitto/tavlo.acl", f"acl_file {acl}")
        replace("persistence_location /var/lib/mosquitto/", f"persistence_location {self.dir}/")
        if not persistence:
            replace("persistence true", "persistence false")
        if tls:
            self.ca, cert, key = make_certificates(self.dir)
            replace("#listener 8883\n", f"listener {self.tls_port} 127.0.0.1\n")
            replace("#certfile /etc/mosquitto/certs/broker.crt", f"certfile {cert}")
            replace("#keyfile /etc/mosquitto/certs/broker.key", f"keyfile {key}")
            replace("#cafile /etc/mosquitto/ca_certificates/ca.crt", f"cafile {self.ca}")
        if os.geteuid() == 0:
            # Started as root, Mosquitto would become its own user, who cannot read the test's folder.
            text += "user root\n"
        self.conf = os.path.join(self.dir, "mosquitto.conf")
        with open(self.conf, "w", encoding="utf-8") as f:
            f.write(text)
        self.process = None
        self.log = open(os.path.join(self.dir, "broker.log"), "ab")

    def url(self, host="127.0.0.1"):
        return f"tcp://{host}:{self.port}"

    def password_file(self, user, password=None):
        path = os.path.join(self.dir, f"{user}.pw" if password is None else f"{user}-other.pw")
        with open(path, "w", encoding="utf-8") as f:
            f.write((password if password is not None else self.users[user]) + "\n")
        os.chmod(path, 0o600)
        return path

    def start(self):
        self.process = subprocess.Popen([MOSQUITTO, "-c", self.conf], stdout=self.log, stderr=self.log)
        wait_for_port(self.port)
        if self.tls_port:
            wait_for_port(self.tls_port)
        return self

    def stop(self):
        """SIGTERM: Mosquitto saves its sessions and queued messages when persistence is on."""
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(20)

    def kill(self):
        """SIGKILL: whatever was not saved is gone, as after a crash."""
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait(20)

    def text(self):
        self.log.flush()
        with open(os.path.join(self.dir, "broker.log"), encoding="utf-8", errors="replace") as f:
            return f.read()

    def cleanup(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait(20)
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)


class Collector:
    """An MQTT client with a persistent session that keeps every message it receives, in order."""

    def __init__(self, broker, topics=("tavlo/+/readings", "tavlo/+/status"), qos=1, user="collector",
                 client_id="tavlo-test-collector", clean=False):
        self.messages = []
        self._readings = {}  # by station, parsed once as they come
        self._distinct = {}  # (run, seq) by station
        self._cond = threading.Condition()
        self._subscribed = threading.Event()
        self.client = mqtt.Client(client_id=client_id, clean_session=clean)
        self.client.username_pw_set(user, broker.users[user])
        self.client.reconnect_delay_set(min_delay=1, max_delay=1)

        def on_connect(client, userdata, flags, rc):
            if rc == 0:
                client.subscribe([(t, qos) for t in topics])

        def on_subscribe(client, userdata, mid, granted):
            self._subscribed.set()

        def on_message(client, userdata, message):
            reading = json.loads(message.payload) if message.topic.endswith("/readings") else None
            with self._cond:
                self.messages.append((message.topic, message.payload, message.retain))
                if reading is not None:
                    station = message.topic.split("/")[1]
                    self._readings.setdefault(station, []).append(reading)
                    self._distinct.setdefault(station, set()).add((reading["run"], reading["seq"]))
                self._cond.notify_all()

        self.client.on_connect = on_connect
        self.client.on_subscribe = on_subscribe
        self.client.on_message = on_message
        self.client.connect("127.0.0.1", broker.port, keepalive=10)
        self.client.loop_start()
        if not self._subscribed.wait(10):
            raise AssertionError("the collector did not get its subscription")

    def wait_for(self, predicate, timeout=60.0, what="messages"):
        deadline = time.monotonic() + timeout
        with self._cond:
            while not predicate(self.messages):
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError(f"no {what} in time; got {len(self.messages)} messages")
                self._cond.wait(min(left, 0.5))

    def wait_quiet(self, seconds=0.5, timeout=30.0):
        """Until no message has come for the given time."""
        deadline = time.monotonic() + timeout
        count = -1
        while time.monotonic() < deadline:
            with self._cond:
                now = len(self.messages)
            if now == count:
                return
            count = now
            time.sleep(seconds)
        raise AssertionError("the messages did not stop coming")

    def wait_for_count(self, count, timeout=60.0, station="bench1"):
        """Until `count` distinct readings (run and seq) of the station have come."""
        self.wait_for(lambda m: len(self._distinct.get(station, ())) >= count, timeout, f"{count} readings")

    def readings(self, station="bench1"):
        with self._cond:
            return list(self._readings.get(station, []))

    def seqs(self, station="bench1"):
        return [r["seq"] for r in self.readings(station)]

    def statuses(self, station="bench1"):
        with self._cond:
            return [p.decode() for t, p, _ in self.messages if t == f"tavlo/{station}/status"]

    def stop(self):
        self.client.loop_stop()
        self.client.disconnect()


def retained(broker, topic, user="collector", timeout=10.0):
    """The retained message of a topic as a new client gets it (None when there is none)."""
    got = []
    done = threading.Event()
    client = mqtt.Client(clean_session=True)
    client.username_pw_set(user, broker.users[user])
    client.on_connect = lambda c, u, f, rc: c.subscribe(topic, 1)
    client.on_subscribe = lambda c, u, m, g: threading.Timer(0.5, done.set).start()

    def on_message(c, u, message):
        if message.retain:
            got.append(message.payload.decode())
            done.set()

    client.on_message = on_message
    client.connect("127.0.0.1", broker.port)
    client.loop_start()
    done.wait(timeout)
    client.loop_stop()
    client.disconnect()
    return got[0] if got else None


def publish(broker, topic, payload, user="operator", retain=False):
    client = mqtt.Client(clean_session=True)
    client.username_pw_set(user, broker.users[user])
    client.connect("127.0.0.1", broker.port)
    client.loop_start()
    client.publish(topic, payload, qos=1, retain=retain).wait_for_publish(10)
    client.loop_stop()
    client.disconnect()


class Relay:
    """A TCP relay from a port of its own to the broker, which the test cuts (every connection closed, new ones
    refused), mends, or turns into a peer that accepts and never answers."""

    def __init__(self, target_port):
        self.target = target_port
        self.port = free_port()
        self.mode = "up"
        self.stalled = False
        self._lock = threading.Lock()
        self._sockets = []
        self._server = None
        self._stop = False
        self._listen()
        self._thread = threading.Thread(target=self._accept, daemon=True)
        self._thread.start()

    def url(self):
        return f"tcp://127.0.0.1:{self.port}"

    def _listen(self):
        server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        # The socket just closed may still be held by the accepting thread's last wait (a tenth of a second).
        deadline = time.monotonic() + 5
        while True:
            try:
                server.bind(("127.0.0.1", self.port))
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.05)
        server.listen(16)
        server.settimeout(0.1)
        self._server = server

    def _accept(self):
        while not self._stop:
            with self._lock:
                server = self._server
            if server is None:
                time.sleep(0.05)
                continue
            try:
                client, _ = server.accept()
            except (socket.timeout, OSError):
                continue
            with self._lock:
                mode = self.mode
                self._sockets.append(client)
            if mode == "silent":
                continue  # accepted and never answered
            try:
                upstream = socket.create_connection(("127.0.0.1", self.target), timeout=5)
            except OSError:
                client.close()
                continue
            upstream.settimeout(None)
            with self._lock:
                self._sockets.append(upstream)
            for a, b, outward in ((client, upstream, True), (upstream, client, False)):
                threading.Thread(target=self._pipe, args=(a, b, outward), daemon=True).start()

    def _pipe(self, source, sink, outward):
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                if outward and self.stalled:
                    continue  # swallowed on the way, as by a network that is going down
                sink.sendall(data)
        except OSError:
            pass
        for s in (source, sink):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def _close_all(self):
        with self._lock:
            sockets, self._sockets = self._sockets, []
        for s in sockets:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()

    def stall(self):
        """What the client sends is swallowed; the connections stay open, so its messages stay in flight."""
        self.stalled = True

    def cut(self):
        """The network is gone: connections end and nothing answers at the port."""
        with self._lock:
            server, self._server = self._server, None
        if server:
            server.close()
        self._close_all()

    def mend(self, mode="up"):
        with self._lock:
            self.mode = mode
            self.stalled = False
        if self._server is None:
            self._listen()

    def close(self):
        self._stop = True
        self.cut()
        self._thread.join(5)
