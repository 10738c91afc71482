#!/usr/bin/env python3
"""The example page docs/examples/web/reading.html in headless Chromium, driven over its DevTools protocol:
readings from tavlo-sim through Tavlo's reading service, Weigh and Tare, the reconnection after Tavlo restarts,
and the refusal of a page from an origin that is not listed.

Usage: TAVLO_BIN_DIR=build/dev/bin reading_page_e2e.py [unittest arguments]
"""
import asyncio
import base64
import functools
import http.server
import itertools
import json
import os
import signal
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request

import websockets

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import service_run  # noqa: E402
from service_run import Sim, Tavlo, free_port, stop_process  # noqa: E402

PAGES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "examples", "web")
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class PageServer:
    """The example pages on a loopback port of their own: their origin is http://localhost:PORT."""

    def __init__(self):
        self.port = free_port()
        handler = functools.partial(QuietHandler, directory=PAGES)
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", self.port), handler)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()
        self.origin = f"http://localhost:{self.port}"

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class Browser:
    """Headless Chromium with a fresh profile, and one page driven over the DevTools protocol."""

    def __init__(self):
        self.profile = tempfile.TemporaryDirectory(prefix="tavlo-chromium-")
        self.process = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-dev-shm-usage", f"--user-data-dir={self.profile.name}", "--remote-debugging-port=0",
             "about:blank"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        active = os.path.join(self.profile.name, "DevToolsActivePort")
        deadline = time.monotonic() + 60
        while not (os.path.exists(active) and self._read(active).count("\n") >= 1):
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise RuntimeError("Chromium did not start")
            time.sleep(0.1)
        self.debug_port = int(self._read(active).split("\n")[0])
        self.ids = itertools.count(1)
        self.socket = None

    async def open(self):
        with urllib.request.urlopen(f"http://127.0.0.1:{self.debug_port}/json/list", timeout=30) as f:
            page = next(t for t in json.load(f) if t["type"] == "page")
        self.socket = await websockets.connect(page["webSocketDebuggerUrl"], max_size=None)

    async def call(self, method, **params):
        call_id = next(self.ids)
        await self.socket.send(json.dumps({"id": call_id, "method": method, "params": params}))
        while True:
            message = json.loads(await self.socket.recv())
            if message.get("id") == call_id:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message["result"]

    async def evaluate(self, expression):
        result = await self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        return result["result"].get("value")

    async def navigate(self, url):
        await self.call("Page.navigate", url=url)

    async def until(self, expression, timeout=30.0):
        """The expression's value once it is truthy; fails with the page's state when it does not become so."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            value = await self.evaluate(expression)
            if value:
                return value
            await asyncio.sleep(0.1)
        state = await self.evaluate("document.getElementById('state').textContent + ' | ' + "
                                    "document.body.innerText")
        raise AssertionError(f"{expression} did not hold; the page shows: {state}")

    async def close(self):
        if self.socket:
            await self.socket.close()

    @staticmethod
    def _read(path):
        with open(path, encoding="utf-8") as f:
            return f.read()

    def stop(self):
        # The browser's helper processes (renderer, zygote) are in its process group: they end with it, before the
        # profile they write into is removed.
        try:
            os.killpg(self.process.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        stop_process(self.process)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                os.killpg(self.process.pid, 0)
            except ProcessLookupError:
                break
            time.sleep(0.1)
        else:
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        for _ in range(50):
            try:
                self.profile.cleanup()
                return
            except OSError:
                time.sleep(0.1)
        shutil.rmtree(self.profile.name, ignore_errors=True)


@unittest.skipUnless(CHROMIUM, "Chromium is not installed (scripts/setup installs it)")
class ExamplePage(unittest.TestCase):
    def setUp(self):
        self.pages = PageServer()
        self.addCleanup(self.pages.close)
        self.browser = Browser()
        self.addCleanup(self.browser.stop)

    def start_tavlo(self, sim, port=None, origins=None, home=None):
        settings = {"instrument": "MITUTOYO", "inputTerminator": "13", "delay": "0",
                    "readingServiceOrigins": origins if origins is not None else self.pages.origin}
        tavlo = Tavlo(settings, sim.name, port=port, home=home)
        self.addCleanup(tavlo.cleanup)
        return tavlo.wait_ready()

    def sim(self, values):
        sim = Sim(["--instrument", "MITUTOYO", "--values", values, "--request", "1\\r", "--count", "100"])
        self.addCleanup(sim.stop)
        sim.start()
        return sim

    def test_the_page_shows_readings_weighs_tares_and_reconnects_after_a_restart(self):
        sim = self.sim("1.192,2.5")
        tavlo = self.start_tavlo(sim)
        token = tavlo.token()
        page = f"{self.pages.origin}/reading.html?port={tavlo.port}&token={token}"
        b = self.browser

        async def scenario():
            await b.open()
            await b.call("Runtime.enable")
            await b.navigate(page)
            await b.until("document.getElementById('state').dataset.state === 'connected'")
            await b.until("!document.getElementById('weigh').disabled")
            await b.evaluate("document.getElementById('weigh').click()")
            await b.until("document.getElementById('value').textContent === '1.1920'")
            await b.evaluate("document.getElementById('weigh').click()")
            await b.until("document.getElementById('value').textContent === '2.5000'")
            rows = await b.evaluate("Array.from(document.querySelectorAll('#history tr')).map(r => r.dataset.seq)")
            if os.environ.get("TAVLO_PAGE_SCREENSHOT"):
                # For a look at the page as a user sees it.
                await b.call("Emulation.setDeviceMetricsOverride", width=900, height=760, deviceScaleFactor=1,
                             mobile=False)
                shot = await b.call("Page.captureScreenshot", format="png")
                with open(os.environ["TAVLO_PAGE_SCREENSHOT"], "wb") as f:
                    f.write(base64.b64decode(shot["data"]))
            await b.evaluate("document.getElementById('tare').click()")
            tare = await b.until("document.getElementById('result').dataset.ok === 'false' && "
                                 "document.getElementById('result').textContent")
            # Tavlo stops: the page says so and keeps trying; a new Tavlo on the same port is found again.
            self.assertEqual(tavlo.stop(), 0)
            await b.until("document.getElementById('state').dataset.state === 'disconnected'")
            stopped_text = await b.evaluate("document.getElementById('state').textContent")
            again = self.start_tavlo(sim, port=tavlo.port, home=tavlo.home)
            await b.until("document.getElementById('state').dataset.state === 'connected'", timeout=40)
            await b.evaluate("document.getElementById('weigh').click()")
            await b.until("document.querySelector('#history tr').dataset.seq === '1' && "
                          "document.querySelectorAll('#history tr').length === 3")
            again.stop()
            await b.close()
            return rows, tare, stopped_text

        rows, tare, stopped_text = asyncio.run(scenario())
        self.assertEqual(rows, ["2", "1"], "the newest reading first")
        self.assertIn("no tare command", tare)
        self.assertIn("reconnecting", stopped_text)

    def test_a_page_from_an_origin_that_is_not_listed_gets_nothing(self):
        sim = self.sim("3.25")
        tavlo = self.start_tavlo(sim, origins="http://localhost:1")
        token = tavlo.token()
        b = self.browser

        async def scenario():
            await b.open()
            await b.navigate(f"{self.pages.origin}/reading.html?port={tavlo.port}&token={token}")
            await b.until("document.getElementById('state').textContent.includes('reconnecting')")
            # A reading exists now, and the page still cannot see it.
            subprocess.run([sys.executable, "-c", "import sys,http.client as h;c=h.HTTPConnection('127.0.0.1',"
                            f"{tavlo.port});c.request('POST','/command',body='{{\"command\":\"request\"}}',"
                            f"headers={{'Authorization':'Bearer {token}'}});sys.exit(c.getresponse().status!=200)"],
                           check=True, timeout=30)
            tavlo.out.wait_for(r"^3\.2500$")
            result = await b.call("Runtime.evaluate",
                                  expression=f"fetch('http://localhost:{tavlo.port}/reading')"
                                             ".then(r => 'status ' + r.status, e => 'failed')",
                                  awaitPromise=True, returnByValue=True)
            value = await b.evaluate("document.getElementById('value').textContent")
            rows = await b.evaluate("document.querySelectorAll('#history tr').length")
            await b.close()
            return result["result"]["value"], value, rows

        fetched, value, rows = asyncio.run(scenario())
        self.assertEqual(fetched, "failed", "the browser withholds a refused answer from the page")
        self.assertEqual((value, rows), ("\u2013", 0))
        tavlo.stop()
        self.assertEqual(len(tavlo.err.matching(self.pages.origin.replace(".", r"\.") + ": its origin is not")), 1,
                         tavlo.err.text())


if __name__ == "__main__":
    if not service_run.BIN:
        sys.exit("TAVLO_BIN_DIR names the folder of tavlo and tavlo-sim")
    unittest.main()
