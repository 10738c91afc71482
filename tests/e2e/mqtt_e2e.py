#!/usr/bin/env python3
"""Every reading to an MQTT broker, end to end: tavlo --headless on a pseudo-terminal written by the test, a real
Mosquitto started from the fleet example's configuration, and a collector with a persistent session. Outages of
the broker and of the network, restarts of Tavlo (SIGTERM, SIGKILL), QoS 2, TLS, refused credentials, a broker
that never answers, the bound of the backlog and commands from the broker.

Usage: TAVLO_BIN_DIR=build/dev/bin mqtt_e2e.py [unittest arguments]
"""
import json
import os
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mqtt_run import EXAMPLE, Broker, Collector, Relay, publish, retained  # noqa: E402
from service_run import Pty, Tavlo, stop_process  # noqa: E402


class MqttTest(unittest.TestCase):
    def broker(self, **kwargs):
        broker = Broker(**kwargs).start()
        self.addCleanup(broker.cleanup)
        return broker

    def collector(self, broker, **kwargs):
        collector = Collector(broker, **kwargs)
        self.addCleanup(collector.stop)
        return collector

    def pty(self):
        pty = Pty()
        self.addCleanup(pty.close)
        return pty

    def settings(self, broker, **extra):
        settings = {"instrument": "GENERIC", "inputTerminator": "10", "delay": "0", "station": "bench1",
                    "mqttUser": "bench1", "mqttPasswordFile": broker.password_file("bench1")}
        settings.update(extra)
        return settings

    def tavlo(self, settings, device, url, args=(), home=None):
        tavlo = Tavlo(settings, device, args=["--mqtt-broker", url] + list(args), output="none", service=False,
                      home=home)
        self.addCleanup(tavlo.cleanup)
        return tavlo

    def feed(self, pty, first, last, pause=0.0):
        """Records first..last, the value of record n being "n.5"."""
        if pause == 0.0:
            pty.write("".join(f"{n}.5\n" for n in range(first, last + 1)).encode())
            return
        for n in range(first, last + 1):
            pty.write(f"{n}.5\n".encode())
            time.sleep(pause)

    def assertAllArrived(self, collector, count, run=None, duplicates=True):
        readings = collector.readings()
        if run is not None:
            readings = [r for r in readings if r["run"] == run]
        seqs = [r["seq"] for r in readings]
        self.assertEqual(sorted(set(seqs)), list(range(1, count + 1)), f"gaps among {len(seqs)} readings")
        if not duplicates:
            self.assertEqual(len(seqs), count, "a reading arrived twice")
        for r in readings:
            self.assertEqual(r["value"], f"{r['seq']}.5", r)
        return readings


class Flood(MqttTest):
    def test_ten_thousand_readings_reach_the_collectors_in_order_and_the_status_is_online_then_offline(self):
        broker = self.broker()
        collector = self.collector(broker)
        database = os.path.join(broker.dir, "readings.db")
        # The fleet example's collector, as a user would run it, beside the test's own.
        example = subprocess.Popen([sys.executable, os.path.join(EXAMPLE, "collect.py"), "--port", str(broker.port),
                                    "--broker", "127.0.0.1", "--password-file",
                                    broker.password_file("collector"), "--database", database],
                                   stderr=subprocess.PIPE)
        self.addCleanup(stop_process, example)
        time.sleep(1.0)  # its subscription is made on connecting
        pty = self.pty()
        tavlo = self.tavlo(self.settings(broker), pty.name, broker.url(), ["--count", "10000"]).wait_ready()
        tavlo.err.wait_for(r"MQTT: connected to tcp://127\.0\.0\.1:")
        self.feed(pty, 1, 10000)
        self.assertEqual(tavlo.wait(120), 0, tavlo.err.text())

        collector.wait_for_count(10000, 60)
        readings = self.assertAllArrived(collector, 10000)
        seqs = [r["seq"] for r in readings]
        self.assertEqual(seqs, sorted(seqs), "out of order")
        self.assertEqual(len({r["run"] for r in readings}), 1)
        first = readings[0]
        self.assertEqual(list(first), ["type", "run", "seq", "time", "station", "port", "instrument", "raw", "value",
                                       "typed", "unit", "stable", "outcome", "error"])
        self.assertEqual((first["station"], first["instrument"], first["raw"], first["outcome"], first["typed"]),
                         ("bench1", "GENERIC", "1.5<10>", "accepted", False))
        collector.wait_for(lambda m: [p for t, p, _ in m if t.endswith("/status")][-1:] == [b"offline"], 10,
                           "offline")
        self.assertEqual(collector.statuses()[:1], ["online"])
        self.assertEqual(retained(broker, "tavlo/bench1/status"), "offline")

        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            with sqlite3.connect(database) as db:
                rows = db.execute("select count(*), min(seq), max(seq) from readings").fetchone()
            if rows[0] >= 10000:
                break
            time.sleep(0.5)
        self.assertEqual(rows, (10000, 1, 10000), "the example collector stores each reading once")
        stop_process(example)
        self.assertEqual(example.stderr.read(), b"")
        example.stderr.close()


class Outages(MqttTest):
    def test_the_broker_stopped_mid_run_and_started_again_loses_nothing(self):
        broker = self.broker()
        collector = self.collector(broker)
        pty = self.pty()
        tavlo = self.tavlo(self.settings(broker), pty.name, broker.url(), ["--count", "600"]).wait_ready()
        tavlo.err.wait_for(r"MQTT: connected")
        self.feed(pty, 1, 200, pause=0.002)
        broker.stop()
        tavlo.err.wait_for(r"MQTT: the connection to .* was lost")
        self.feed(pty, 201, 400, pause=0.002)
        tavlo.err.wait_for(r"MQTT: \d+ readings? kept for tcp://")
        broker.start()
        self.feed(pty, 401, 600, pause=0.002)
        self.assertEqual(tavlo.wait(60), 0, tavlo.err.text())
        collector.wait_for_count(600, 30)
        self.assertAllArrived(collector, 600)

    def test_readings_in_flight_when_the_broker_lost_its_sessions_go_out_again(self):
        # No persistence, killed: the broker comes back knowing neither Tavlo's session nor the collector's, and
        # the client library drops what it had in flight. The network between Tavlo and the broker is a relay:
        # it swallows readings 101 to 200 (in flight, never acknowledged) and lets Tavlo reconnect only once the
        # collector is subscribed again.
        broker = self.broker(persistence=False)
        relay = Relay(broker.port)
        self.addCleanup(relay.close)
        old = self.collector(broker)
        pty = self.pty()
        tavlo = self.tavlo(self.settings(broker), pty.name, relay.url(), ["--count", "300"]).wait_ready()
        tavlo.err.wait_for(r"MQTT: connected")
        self.feed(pty, 1, 100)
        old.wait_for_count(100, 30)
        relay.stall()
        self.feed(pty, 101, 200)
        time.sleep(1.0)
        relay.cut()
        tavlo.err.wait_for(r"MQTT: the connection to .* was lost")
        broker.kill()
        old.stop()
        broker.start()
        collector = self.collector(broker)
        relay.mend()
        self.feed(pty, 201, 300)
        self.assertEqual(tavlo.wait(120), 0, tavlo.err.text())
        collector.wait_for(lambda m: set(collector.seqs()) >= set(range(101, 301)), 30, "every reading")
        self.assertEqual(set(old.seqs()) | set(collector.seqs()), set(range(1, 301)))

    def test_readings_in_flight_at_stop_go_out_at_the_next_start(self):
        # The relay swallows what Tavlo sends: the readings are in flight, never acknowledged, when Stop comes.
        broker = self.broker()
        relay = Relay(broker.port)
        self.addCleanup(relay.close)
        collector = self.collector(broker)
        pty = self.pty()
        first = self.tavlo(self.settings(broker), pty.name, relay.url()).wait_ready()
        first.err.wait_for(r"MQTT: connected")
        relay.stall()
        self.feed(pty, 1, 50)
        time.sleep(1.0)
        self.assertEqual(first.stop(), 0, first.err.text())
        relay.mend()
        second = self.tavlo(self.settings(broker), self.pty().name, relay.url(), home=first.home).wait_ready()
        second.err.wait_for(r"MQTT: 5\d readings? kept by an earlier run")
        collector.wait_for_count(50, 30)
        second.stop()
        self.assertAllArrived(collector, 50)

    def test_a_first_connection_refused_and_a_network_cut_are_retried_by_themselves(self):
        broker = self.broker()
        relay = Relay(broker.port)
        self.addCleanup(relay.close)
        relay.cut()
        collector = self.collector(broker)
        pty = self.pty()
        tavlo = self.tavlo(self.settings(broker), pty.name, relay.url()).wait_ready()
        tavlo.err.wait_for(r"MQTT: no connection to tcp://127\.0\.0\.1:\d+: nothing answers")
        self.feed(pty, 1, 100)
        tavlo.err.wait_for(r"MQTT: 100 readings kept")
        time.sleep(2.0)  # attempts after 1 s and 2 s, told once
        reports = tavlo.err.matching(r"no connection to")
        self.assertEqual(len(reports), 1, f"one report per reason: {reports}")
        relay.mend()
        tavlo.err.wait_for(r"MQTT: connected to .*; sending the 10\d readings kept", 20)
        collector.wait_for_count(100, 20)
        relay.cut()
        tavlo.err.wait_for(r"MQTT: the connection to .* was lost")
        self.feed(pty, 101, 300)
        relay.mend()
        collector.wait_for_count(300, 30)
        self.assertEqual(tavlo.stop(), 0, tavlo.err.text())
        self.assertAllArrived(collector, 300)


class Restarts(MqttTest):
    def test_readings_kept_through_sigterm_go_out_in_order_at_the_next_start(self):
        broker = self.broker()
        collector = self.collector(broker)
        broker.stop()
        pty = self.pty()
        first = self.tavlo(self.settings(broker), pty.name, broker.url()).wait_ready()
        self.feed(pty, 1, 500)
        first.err.wait_for(r"MQTT: 500 readings kept")
        self.assertEqual(first.stop(), 0, first.err.text())
        self.assertTrue(first.err.matching(r"MQTT: stopped; 50\d readings kept|kept for .* wait for the next Start"))

        broker.start()
        second = self.tavlo(self.settings(broker), pty.name, broker.url(), home=first.home).wait_ready()
        second.err.wait_for(r"MQTT: 50\d readings kept by an earlier run go to tcp://")
        collector.wait_for_count(500, 30)
        self.feed(pty, 501, 510)
        collector.wait_for(lambda m: len(collector.seqs()) >= 510, 30, "the new run's readings")
        second.stop()
        readings = collector.readings()
        runs = [r["run"] for r in readings]
        self.assertEqual(len(set(runs)), 2, "two runs, each counting from 1")
        old = [r["seq"] for r in readings if r["run"] == runs[0]]
        self.assertEqual(old, list(range(1, 501)), "kept readings in order, none twice")
        new = [r for r in readings if r["run"] != runs[0]]
        self.assertEqual([r["seq"] for r in new], list(range(1, 11)))
        self.assertEqual([r["value"] for r in new], [f"{n}.5" for n in range(501, 511)])

    def test_sigkill_after_the_readings_were_kept_loses_none(self):
        broker = self.broker()
        collector = self.collector(broker)
        broker.stop()
        pty = self.pty()
        first = self.tavlo(self.settings(broker), pty.name, broker.url()).wait_ready()
        self.feed(pty, 1, 200)
        first.err.wait_for(r"MQTT: 200 readings kept")
        first.process.kill()
        first.wait(10)
        broker.start()
        # The killed run left the terminal in exclusive use; the next one reads another.
        second = self.tavlo(self.settings(broker), self.pty().name, broker.url(), home=first.home).wait_ready()
        collector.wait_for_count(200, 30)
        second.stop()
        self.assertAllArrived(collector, 200)


class ExactlyOnce(MqttTest):
    def test_qos_2_through_a_broker_restart_loses_none_and_repeats_at_most_the_one_in_flight(self):
        broker = self.broker()
        collector = self.collector(broker, qos=2)
        pty = self.pty()
        tavlo = self.tavlo(self.settings(broker, mqttQos="2"), pty.name, broker.url(),
                           ["--count", "2000"]).wait_ready()
        tavlo.err.wait_for(r"MQTT: connected")
        self.feed(pty, 1, 1000)
        collector.wait_for(lambda m: len(m) >= 300, 30, "the first readings")
        broker.stop()
        self.feed(pty, 1001, 2000)
        broker.start()
        self.assertEqual(tavlo.wait(120), 0, tavlo.err.text())
        collector.wait_for_count(2000, 30)
        time.sleep(1.0)  # a duplicate would come now
        readings = self.assertAllArrived(collector, 2000)
        # One message is in flight at a time at QoS 2; only one whose release the broker took just before it went
        # down can come twice (the client starts a new session at every connection, see MqttOutput::connect).
        self.assertLessEqual(len(readings) - 2000, 1, "duplicates")


class Security(MqttTest):
    def test_tls_with_a_ca_made_here_and_a_foreign_ca_refused(self):
        broker = self.broker(tls=True)
        collector = self.collector(broker)
        pty = self.pty()
        url = f"ssl://localhost:{broker.tls_port}"
        tavlo = self.tavlo(self.settings(broker, mqttCaFile=broker.ca), pty.name, url, ["--count", "50"]).wait_ready()
        tavlo.err.wait_for(r"MQTT: connected to ssl://localhost:")
        self.feed(pty, 1, 50)
        self.assertEqual(tavlo.wait(60), 0, tavlo.err.text())
        collector.wait_for_count(50, 20)
        self.assertAllArrived(collector, 50)

        from mqtt_run import make_certificates
        with tempfile.TemporaryDirectory() as other:
            foreign, _, _ = make_certificates(other, "foreign")
            refused = self.tavlo(self.settings(broker, mqttCaFile=foreign, station="bench2", mqttUser="bench2",
                                               mqttPasswordFile=broker.password_file("bench2")),
                                 pty.name, url).wait_ready()
            refused.err.wait_for(r"\[important\] MQTT: no connection to ssl://localhost:\d+")
            self.feed(pty, 51, 60)
            refused.err.wait_for(r"MQTT: 10 readings kept")
            refused.stop()
        self.assertEqual(collector.seqs("bench2"), [])

    def test_refused_credentials_are_reported_once_with_the_brokers_reason_and_nothing_is_lost(self):
        broker = self.broker()
        pty = self.pty()
        settings = self.settings(broker)
        settings["mqttPasswordFile"] = broker.password_file("bench1", "wrong")
        tavlo = self.tavlo(settings, pty.name, broker.url()).wait_ready()
        line = tavlo.err.wait_for(r"MQTT: the broker .* refused the connection")[0]
        self.assertRegex(line, r"\[important\].*(bad user name or password|not authorized).*every 30 s")
        self.assertNotIn("wrong", tavlo.err.text(), "the password is never logged")
        self.feed(pty, 1, 20)
        tavlo.err.wait_for(r"MQTT: 20 readings kept")
        self.assertEqual(tavlo.stop(), 0)
        self.assertEqual(len(tavlo.err.matching(r"refused the connection")), 1)

        # The right password: the readings kept go out.
        collector = self.collector(broker)
        again = self.tavlo(self.settings(broker), pty.name, broker.url(), home=tavlo.home).wait_ready()
        collector.wait_for_count(20, 30)
        again.stop()
        self.assertAllArrived(collector, 20)

    def test_a_broker_that_never_answers_is_reported_and_its_readings_kept(self):
        broker = self.broker()
        relay = Relay(broker.port)
        self.addCleanup(relay.close)
        relay.cut()
        relay.mend("silent")
        pty = self.pty()
        tavlo = self.tavlo(self.settings(broker), pty.name, relay.url()).wait_ready()
        self.feed(pty, 1, 5)
        tavlo.err.wait_for(r"\[important\] MQTT: no connection to .*: the broker did not answer within 10 s", 30)
        tavlo.err.wait_for(r"MQTT: 5 readings kept")
        started = time.monotonic()
        self.assertEqual(tavlo.stop(), 0)
        self.assertLess(time.monotonic() - started, 10, "Stop does not wait for a broker that never answers")

    def test_a_station_may_write_only_its_own_topics(self):
        # The example ACL: bench2's readings on bench1's topic are dropped by the broker.
        broker = self.broker()
        collector = self.collector(broker)
        pty = self.pty()
        intruder = self.settings(broker, station="bench2", mqttUser="bench2",
                                 mqttPasswordFile=broker.password_file("bench2"),
                                 mqttTopic="tavlo/bench1/readings")
        tavlo = self.tavlo(intruder, pty.name, broker.url(), ["--count", "5"]).wait_ready()
        self.feed(pty, 1, 5)
        self.assertEqual(tavlo.wait(60), 0)
        collector.wait_for(lambda m: "offline" in collector.statuses("bench2"), 10, "bench2 offline")
        self.assertEqual(collector.readings("bench1"), [])


class Backlog(MqttTest):
    def test_a_full_backlog_drops_the_oldest_and_says_how_many(self):
        broker = self.broker()
        collector = self.collector(broker)
        broker.stop()
        pty = self.pty()
        first = self.tavlo(self.settings(broker, mqttBacklog="100"), pty.name, broker.url()).wait_ready()
        self.feed(pty, 1, 250)
        first.err.wait_for(r"\[important\] MQTT: the backlog of 100 readings for .* is full")
        first.err.wait_for(r"MQTT: 10\d readings kept")
        self.assertEqual(first.stop(), 0)
        self.assertEqual(len(first.err.matching(r"backlog of 100 readings .* is full")), 1)
        first.err.wait_for(r"\[important\] MQTT: 150 readings were dropped this run while the backlog of 100 was full")

        broker.start()
        second = self.tavlo(self.settings(broker, mqttBacklog="100"), pty.name, broker.url(),
                            home=first.home).wait_ready()
        collector.wait_for(lambda m: 250 in collector.seqs(), 30, "the newest reading")
        second.stop()
        self.assertEqual(sorted(set(collector.seqs())), list(range(151, 251)), "the newest 100 were kept")


class Commands(MqttTest):
    AND = {"instrument": "AND", "inputTerminator": "10"}

    def read_pty(self, pty, want, timeout=10.0):
        os.set_blocking(pty.master, False)
        got = b""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and want not in got:
            try:
                got += os.read(pty.master, 4096)
            except BlockingIOError:
                time.sleep(0.02)
        return got

    def test_commands_from_the_broker_reach_the_instrument_only_when_switched_on(self):
        broker = self.broker()
        pty = self.pty()
        # A retained command would act again at every connection: it is refused when the subscription brings it.
        publish(broker, "tavlo/bench1/command", "tare", retain=True)
        tavlo = self.tavlo(self.settings(broker, mqttCommands="true", **self.AND), pty.name, broker.url()).wait_ready()
        tavlo.err.wait_for(r"\[important\] MQTT: a retained command .* was refused")
        self.assertEqual(self.read_pty(pty, b"T\r\n", timeout=1.0), b"")
        publish(broker, "tavlo/bench1/command", "", retain=True)  # clears the retained message

        publish(broker, "tavlo/bench1/command", "tare")
        self.assertIn(b"T\r\n", self.read_pty(pty, b"T\r\n"))
        publish(broker, "tavlo/bench1/command", '{"command": "zero"}')
        self.assertIn(b"R\r\n", self.read_pty(pty, b"R\r\n"))
        publish(broker, "tavlo/bench1/command", "format c:")
        tavlo.err.wait_for(r"\[important\] MQTT: the command \"format c:\" .* was refused")
        self.assertEqual(self.read_pty(pty, b"never", timeout=0.5), b"")
        tavlo.stop()

        # Off (the default): the broker may still deliver to the old subscription, and nothing is sent.
        off = self.tavlo(self.settings(broker, **self.AND), pty.name, broker.url(), home=tavlo.home).wait_ready()
        off.err.wait_for(r"MQTT: connected")
        time.sleep(0.5)
        publish(broker, "tavlo/bench1/command", "tare")
        self.assertEqual(self.read_pty(pty, b"T\r\n", timeout=1.5), b"")
        off.stop()


if __name__ == "__main__":
    unittest.main()
