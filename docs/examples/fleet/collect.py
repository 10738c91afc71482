#!/usr/bin/env python3
"""Collects every station's readings from the broker into an SQLite database.

    python3 collect.py --broker localhost --port 1883 --user collector --password-file collector.pw \
        --database readings.db

It keeps a persistent session at the broker (client id "tavlo-collector", QoS 1), so readings published while it
is away wait at the broker and arrive when it is back. A reading that arrives twice (QoS 1 allows it) is stored
once: (station, run, seq) identifies it. Debian: apt install python3-paho-mqtt (1.6) and sqlite3 to look.

    sqlite3 readings.db "select station, time, value, unit from readings order by time desc limit 10"

Ends on Ctrl+C or SIGTERM, after the last reading was committed.
"""
import argparse
import json
import signal
import sqlite3
import sys

import paho.mqtt.client as mqtt

SCHEMA = """
create table if not exists readings (
    station text not null, run text not null, seq integer not null,
    time text, port text, instrument text, raw text, value text, unit text, stable integer,
    typed integer, outcome text, error text,
    primary key (station, run, seq))
"""


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--broker", default="localhost")
    parser.add_argument("--port", type=int, default=1883)
    parser.add_argument("--user", default="collector")
    parser.add_argument("--password-file", help="a file whose first line is the password")
    parser.add_argument("--cafile", help="for TLS: the CA certificates that signed the broker's certificate")
    parser.add_argument("--topic", default="tavlo/+/readings")
    parser.add_argument("--client-id", default="tavlo-collector")
    parser.add_argument("--database", default="readings.db")
    args = parser.parse_args()

    db = sqlite3.connect(args.database)
    db.execute("pragma journal_mode=wal")
    db.execute(SCHEMA)
    db.commit()

    client = mqtt.Client(client_id=args.client_id, clean_session=False)
    if args.password_file:
        with open(args.password_file, encoding="utf-8") as f:
            client.username_pw_set(args.user, f.readline().rstrip("\r\n"))
    elif args.user:
        client.username_pw_set(args.user)
    if args.cafile:
        client.tls_set(ca_certs=args.cafile)

    def on_connect(client, userdata, flags, rc):
        if rc != 0:
            print(f"collect: the broker refused the connection: {mqtt.connack_string(rc)}", file=sys.stderr)
            return
        client.subscribe(args.topic, qos=1)

    def on_message(client, userdata, message):
        try:
            r = json.loads(message.payload)
        except ValueError:
            print(f"collect: not a reading on {message.topic}", file=sys.stderr)
            return
        # The broker counts the reading as delivered when this returns: it is committed first.
        db.execute("insert or ignore into readings values (?,?,?,?,?,?,?,?,?,?,?,?,?)",
                   (r.get("station"), r.get("run"), r.get("seq"), r.get("time"), r.get("port"),
                    r.get("instrument"), r.get("raw"), r.get("value"), r.get("unit"), r.get("stable"),
                    r.get("typed"), r.get("outcome"), r.get("error")))
        db.commit()

    client.on_connect = on_connect
    client.on_message = on_message
    signal.signal(signal.SIGTERM, lambda *_: client.disconnect())
    client.connect(args.broker, args.port, keepalive=30)
    try:
        client.loop_forever(retry_first_connection=True)
    except KeyboardInterrupt:
        client.disconnect()
    db.close()


if __name__ == "__main__":
    main()
