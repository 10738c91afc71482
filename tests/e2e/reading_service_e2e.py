#!/usr/bin/env python3
"""The reading service of the real program, end to end: tavlo --headless on a pseudo-terminal (fed by tavlo-sim or
by the test), with Python's websockets and http.client as the clients, hostile ones included.

Usage: TAVLO_BIN_DIR=build/dev/bin reading_service_e2e.py [unittest arguments]
"""
import asyncio
import http.client
import json
import os
import re
import socket
import sys
import unittest

import websockets

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import service_run  # noqa: E402
from service_run import Pty, Sim, Tavlo  # noqa: E402

LISTED = "http://localhost:8000"
AND = {"instrument": "AND", "inputTerminator": "10", "delay": "0", "readingServiceOrigins": LISTED}
GENERIC = {"instrument": "GENERIC", "inputTerminator": "10", "delay": "0"}


def http_request(port, method, path, headers=None, body=None, host=None):
    """(status, headers in lower case, body) of one request on its own connection."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=20)
    connection.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
    connection.putheader("Host", host if host is not None else f"localhost:{port}")
    for name, value in (headers or {}).items():
        connection.putheader(name, value)
    data = body.encode() if isinstance(body, str) else body
    if data is not None:
        connection.putheader("Content-Length", str(len(data)))
    connection.endheaders(data)
    response = connection.getresponse()
    result = (response.status, {k.lower(): v for k, v in response.getheaders()}, response.read())
    connection.close()
    return result


async def read_readings(client, count, timeout=60.0, messages=None):
    """The messages of a client until it has `count` readings (status events and others included), collected
    into `messages` as they come when it is given."""
    messages = [] if messages is None else messages
    readings = 0

    async def collect():
        nonlocal readings
        while readings < count:
            message = json.loads(await client.recv())
            messages.append(message)
            readings += message["type"] == "reading"

    await asyncio.wait_for(collect(), timeout)
    return messages


def readings_of(messages):
    return [m for m in messages if m["type"] == "reading"]


class ServiceTest(unittest.TestCase):
    def run_program(self, settings, device, **kwargs):
        tavlo = Tavlo(settings, device, **kwargs)
        self.addCleanup(tavlo.cleanup)
        return tavlo

    def sim(self, args):
        sim = Sim(args)
        self.addCleanup(sim.stop)
        return sim


class EveryReadingToEveryClient(ServiceTest):
    def test_ten_clients_each_receive_every_reading_in_order_while_the_values_are_typed(self):
        values = [f"{i}.25" for i in range(1, 31)]
        sim = self.sim(["--instrument", "AND", "--values", ",".join(values), "--count", "300", "--interval", "2"])
        tavlo = self.run_program(AND, sim.name).wait_ready()

        async def scenario():
            clients = [await websockets.connect(f"ws://localhost:{tavlo.port}/readings", max_queue=None)
                       for _ in range(10)]
            sim.start()
            results = await asyncio.gather(*(read_readings(c, 300) for c in clients))
            tavlo.stop()
            ends = []
            for c in clients:
                rest = []
                with self.assertRaises(websockets.ConnectionClosedOK):
                    while True:
                        rest.append(json.loads(await c.recv()))
                ends.append((rest, c.close_code))
            return results, ends

        results, ends = asyncio.run(scenario())
        typed = tavlo.out.text().split("\n")
        for messages in results:
            readings = readings_of(messages)
            self.assertEqual([r["seq"] for r in readings], list(range(1, 301)))
            self.assertEqual(len({r["run"] for r in readings}), 1)
            self.assertEqual([r["value"] for r in readings], [f"{float(v):.2f}" for v in values] * 10)
            self.assertEqual([r["value"] for r in readings], typed[:300])
            first = readings[0]
            self.assertEqual(list(first), ["type", "run", "seq", "time", "station", "port", "instrument", "raw", "value",
                                           "typed", "unit", "stable", "outcome", "error"])
            self.assertEqual((first["instrument"], first["port"], first["outcome"], first["typed"], first["error"]),
                             ("AND", sim.name, "queued", True, None))
            self.assertEqual(first["raw"], "ST,+00001.25  g<13><10>")
            self.assertTrue(re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d", first["time"]))
        for rest, code in ends:
            # Stop: the stopped event, then a clean close.
            self.assertEqual([m.get("event") for m in rest if m["type"] == "status"][-1:], ["stopped"])
            self.assertEqual(code, 1001)


class Http(ServiceTest):
    def test_get_reading_and_commands_through_the_same_path_as_the_window(self):
        # MITUTOYO answers its request; it has no tare command.
        sim = self.sim(["--instrument", "MITUTOYO", "--values", "1.192", "--request", "\\r", "--count", "5"])
        tavlo = self.run_program({"instrument": "MITUTOYO", "inputTerminator": "13", "delay": "0"},
                                 sim.name).wait_ready()
        sim.start()
        token = tavlo.token()
        self.assertRegex(token, r"^[0-9a-f]{64}$")
        status, _, body = http_request(tavlo.port, "GET", "/reading")
        self.assertEqual((status, body), (204, b""))

        bearer = {"Authorization": f"Bearer {token}", "Content-Type": "application/json"}
        status, headers, body = http_request(tavlo.port, "POST", "/command", bearer, '{"command": "request"}')
        self.assertEqual(status, 200, body)
        self.assertEqual(json.loads(body), {"type": "command", "command": "request", "ok": True})
        tavlo.out.wait_for(r"^1\.1920$")
        status, headers, body = http_request(tavlo.port, "GET", "/reading")
        self.assertEqual(status, 200)
        self.assertEqual(headers["content-type"], "application/json")
        reading = json.loads(body)
        self.assertEqual((reading["seq"], reading["value"], reading["instrument"]), (1, "1.1920", "MITUTOYO"))

        status, _, body = http_request(tavlo.port, "POST", "/command", bearer, '{"command": "tare"}')
        self.assertEqual(status, 409)
        self.assertIn("no tare command", json.loads(body)["error"])

        for _ in range(3):
            self.assertEqual(http_request(tavlo.port, "POST", "/command", {}, '{"command": "request"}')[0], 401)
            wrong = {"Authorization": "Bearer " + token[:-1] + ("0" if token[-1] != "0" else "1")}
            self.assertEqual(http_request(tavlo.port, "POST", "/command", wrong, '{"command": "request"}')[0], 401)
        self.assertEqual(len(tavlo.out.matching(r"^1\.1920$")), 1, "refused commands sent nothing")
        tavlo.stop()
        self.assertEqual(len(tavlo.err.matching(r"without the token")), 1, tavlo.err.text())
        self.assertEqual(len(tavlo.err.matching(r"the token is wrong")), 1, tavlo.err.text())
        # The token lives in its own file, readable by the user only, never in the settings.
        path = os.path.join(tavlo.env["XDG_CONFIG_HOME"], "Corvane", "Tavlo", "reading-service-token")
        self.assertEqual(os.stat(path).st_mode & 0o777, 0o600)

    def test_forged_hosts_and_unlisted_origins_are_refused_and_listed_ones_get_cors_answers(self):
        sim = self.sim(["--instrument", "AND", "--values", "2.5", "--count", "1"])
        tavlo = self.run_program(AND, sim.name).wait_ready()
        sim.start()
        tavlo.out.wait_for(r"^2\.50$")
        port = tavlo.port
        for host in [f"evil.example:{port}", f"localhost:{port + 1}", "localhost", f"127.0.0.1.nip.io:{port}"]:
            status, headers, body = http_request(port, "GET", "/reading", host=host)
            self.assertEqual(status, 403, host)
            self.assertIn("host", json.loads(body)["error"])
        for host in [f"localhost:{port}", f"127.0.0.1:{port}", f"[::1]:{port}", f"LOCALHOST:{port}"]:
            self.assertEqual(http_request(port, "GET", "/reading", host=host)[0], 200, host)

        status, headers, _ = http_request(port, "GET", "/reading", {"Origin": "https://evil.example"})
        self.assertEqual(status, 403)
        self.assertNotIn("access-control-allow-origin", headers)
        status, headers, _ = http_request(port, "GET", "/reading", {"Origin": LISTED})
        self.assertEqual(status, 200)
        self.assertEqual(headers["access-control-allow-origin"], LISTED)
        preflight = {"Origin": LISTED, "Access-Control-Request-Method": "POST",
                     "Access-Control-Request-Headers": "authorization,content-type",
                     "Access-Control-Request-Private-Network": "true"}
        status, headers, _ = http_request(port, "OPTIONS", "/command", preflight)
        self.assertEqual(status, 204)
        self.assertEqual(headers["access-control-allow-origin"], LISTED)
        self.assertEqual(headers["access-control-allow-private-network"], "true")
        self.assertIn("authorization", headers["access-control-allow-headers"].lower())
        status, headers, _ = http_request(port, "OPTIONS", "/command", dict(preflight, Origin="https://evil.example"))
        self.assertEqual(status, 403)
        self.assertNotIn("access-control-allow-private-network", headers)

        async def websockets_from_pages():
            with self.assertRaises(websockets.InvalidStatusCode) as refused:
                await websockets.connect(f"ws://localhost:{port}/readings", origin="https://evil.example")
            listed = await websockets.connect(f"ws://localhost:{port}/readings", origin=LISTED)
            await listed.close()
            return refused.exception.status_code

        self.assertEqual(asyncio.run(websockets_from_pages()), 403)
        # A WebSocket whose handshake names another host, as a page on a rebound name sends it.
        with socket.create_connection(("127.0.0.1", port)) as s:
            s.sendall(f"GET /readings HTTP/1.1\r\nHost: evil.example:{port}\r\nUpgrade: websocket\r\n"
                      "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                      "Sec-WebSocket-Version: 13\r\n\r\n".encode())
            self.assertTrue(s.recv(4096).startswith(b"HTTP/1.1 403"))
        tavlo.stop()
        self.assertEqual(len(tavlo.err.matching(r"https://evil\.example: its origin is not")), 1, tavlo.err.text())

    def test_websocket_commands_need_the_token_and_a_wrong_token_is_refused(self):
        sim = self.sim(["--instrument", "MITUTOYO", "--values", "0.5", "--request", "\\r", "--count", "5"])
        tavlo = self.run_program({"instrument": "MITUTOYO", "inputTerminator": "13", "delay": "0"},
                                 sim.name).wait_ready()
        sim.start()
        token = tavlo.token()

        async def scenario():
            with self.assertRaises(websockets.InvalidStatusCode) as wrong:
                await websockets.connect(f"ws://localhost:{tavlo.port}/readings?token=x{token}")
            reader = await websockets.connect(f"ws://localhost:{tavlo.port}/readings")
            await reader.send('{"command": "request"}')
            refusal = json.loads(await reader.recv())
            commander = await websockets.connect(f"ws://localhost:{tavlo.port}/readings?token={token}")
            await commander.send('{"command": "request", "id": "w1"}')
            answer = json.loads(await commander.recv())
            reading = json.loads(await commander.recv())
            await reader.close()
            await commander.close()
            return wrong.exception.status_code, refusal, answer, reading

        status, refusal, answer, reading = asyncio.run(scenario())
        self.assertEqual(status, 401)
        self.assertEqual((refusal["type"], refusal["ok"]), ("command", False))
        self.assertIn("token", refusal["error"])
        self.assertEqual(answer, {"type": "command", "command": "request", "ok": True, "id": "w1"})
        self.assertEqual((reading["type"], reading["seq"], reading["value"]), ("reading", 1, "0.5000"))


    def test_a_port_in_use_keeps_the_run_from_starting_with_the_reason(self):
        pty = Pty()
        self.addCleanup(pty.close)
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen(1)
            port = taken.getsockname()[1]
            tavlo = self.run_program(GENERIC, pty.name, port=port)
            self.assertEqual(tavlo.wait(30), 1)
        self.assertIn(f"cannot listen on 127.0.0.1:{port}", tavlo.err.text())
        self.assertEqual(tavlo.err.matching(r"RTS: "), [], "the instrument's port was not even opened")


class NeverInTheWay(ServiceTest):
    def test_a_client_that_never_reads_is_closed_while_typing_and_the_other_clients_go_on(self):
        total = 30000
        pty = Pty()
        self.addCleanup(pty.close)
        tavlo = self.run_program(GENERIC, pty.name, args=["--count", str(total)]).wait_ready()

        async def scenario():
            stalled = socket.socket()
            stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            stalled.connect(("127.0.0.1", tavlo.port))
            stalled.sendall(f"GET /readings HTTP/1.1\r\nHost: 127.0.0.1:{tavlo.port}\r\nUpgrade: websocket\r\n"
                            "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                            "Sec-WebSocket-Version: 13\r\n\r\n".encode())
            answer = b""
            while not answer.endswith(b"\r\n\r\n"):
                answer += stalled.recv(1)
            self.assertTrue(answer.startswith(b"HTTP/1.1 101"))
            readers = [await websockets.connect(f"ws://localhost:{tavlo.port}/readings", max_queue=None)
                       for _ in range(2)]
            received = [[] for _ in readers]
            collecting = [asyncio.ensure_future(read_readings(r, total, timeout=120, messages=m))
                          for r, m in zip(readers, received)]

            async def feed():
                for start in range(1, total + 1, 500):
                    # The readers are let to keep up, however slow this machine is: only the stalled one falls
                    # behind.
                    while min(len(m) for m in received) < start - 3000:
                        await asyncio.sleep(0.01)
                    pty.write(b"".join(b"S %d g\n" % n for n in range(start, min(start + 500, total + 1))))
                    await asyncio.sleep(0.02)

            await feed()
            results = await asyncio.gather(*collecting)
            return stalled, results

        stalled, results = asyncio.run(scenario())
        self.assertEqual(tavlo.wait(60), 0, tavlo.err.text())
        typed = tavlo.out.text().split("\n")
        self.assertEqual(typed, [str(n) for n in range(1, total + 1)], "every value typed, in order")
        for messages in results:
            self.assertEqual([r["seq"] for r in readings_of(messages)], list(range(1, total + 1)))
        self.assertEqual(len(tavlo.err.matching(r"stopped reading")), 1, tavlo.err.text())
        stalled.setblocking(False)
        with self.assertRaises((ConnectionResetError, BlockingIOError, OSError)):
            while stalled.recv(65536):
                pass
            raise ConnectionResetError("closed")
        stalled.close()

    def test_output_none_reads_logs_and_serves_without_any_keyboard(self):
        sim = self.sim(["--instrument", "AND", "--values", "3.5,4.5", "--count", "4", "--interval", "20"])
        log = os.path.join("/tmp", f"tavlo-e2e-{os.getpid()}.csv")
        self.addCleanup(lambda: os.path.exists(log) and os.remove(log))
        # No display and a keyboard backend that cannot work there: typing off must not need it.
        tavlo = self.run_program(AND, sim.name, output="none", args=["--count", "4", "--data-log", log],
                                 environment={"TAVLO_KEYBOARD_BACKEND": "x11", "DISPLAY": None})
        tavlo.wait_ready()

        async def scenario():
            client = await websockets.connect(f"ws://localhost:{tavlo.port}/readings")
            sim.start()
            return await read_readings(client, 4)

        readings = readings_of(asyncio.run(scenario()))
        self.assertEqual(tavlo.wait(60), 0, tavlo.err.text())
        self.assertEqual(tavlo.out.text(), "", "nothing typed or printed")
        self.assertEqual([(r["value"], r["typed"], r["outcome"]) for r in readings],
                         [("3.50", False, "accepted"), ("4.50", False, "accepted")] * 2)
        self.assertNotIn("keyboard", tavlo.err.text().lower())
        with open(log, encoding="utf-8", newline="") as f:
            lines = f.read().split("\r\n")
        self.assertEqual([l.rsplit(",", 1)[-1] for l in lines[1:5]], ["accepted"] * 4)


class DataLog(ServiceTest):
    """The data log is written as before the readings had other outputs, byte for byte but for the times."""

    RECORDS = [b"ST,+00012.34  g\r\n", b"ST,+00012.34  g\r\n", b"US,+00012.50  g\r\n", b"hello, \"world\"\r\n",
               b"ST,-00001.50  g\r\n", b"  ST,+00000.00  g\r\n", b"ST,abc  g\r\n",
               b"\x01\x02ST,+00099.99  g\r\n", b"ST,+0001.2.3  g\r\n", b"ST,+000-1  g\r\n",
               b"ST,+00001.00  g\r\n"]

    def test_the_same_records_give_the_same_lines_with_the_service_on(self):
        expected_path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "data-log-before.csv")
        with open(expected_path, "rb") as f:
            expected = f.read()
        pty = Pty()
        self.addCleanup(pty.close)
        log = os.path.join("/tmp", f"tavlo-e2e-log-{os.getpid()}.csv")
        self.addCleanup(lambda: os.path.exists(log) and os.remove(log))
        settings = {"instrument": "AND", "inputTerminator": "10", "delay": "0", "ignoreDuplicates": "true",
                    "stableOnly": "true"}
        tavlo = self.run_program(settings, pty.name, args=["--count", str(len(self.RECORDS)), "--data-log", log])
        tavlo.wait_ready()
        for record in self.RECORDS:
            pty.write(record)
        self.assertEqual(tavlo.wait(60), 0, tavlo.err.text())
        with open(log, "rb") as f:
            written = f.read()
        times = re.compile(rb"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d,", re.M)
        self.assertEqual(len(times.findall(written)), len(self.RECORDS))
        self.assertEqual(times.sub(b"TIME,", written).replace(pty.name.encode(), b"PORT"), expected)


if __name__ == "__main__":
    if not service_run.BIN:
        sys.exit("TAVLO_BIN_DIR names the folder of tavlo and tavlo-sim")
    unittest.main()
