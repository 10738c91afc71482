#!/usr/bin/python3
# What a user would write without Tavlo: read a line from the serial port, take the value, publish it to the
# broker at QoS 1. Usage: serial_to_mqtt.py PORT BROKER_PORT
import json, re, serial, sys
import paho.mqtt.client as mqtt

port = serial.Serial(sys.argv[1], 9600, timeout=2)
client = mqtt.Client(client_id="python-bridge", clean_session=True)
client.connect("127.0.0.1", int(sys.argv[2]))
client.loop_start()
value = re.compile(r'([-+]?\s*[0-9]*[\.,]?[0-9]+)')
seq = 0
while True:
    line = port.readline()
    if not line:
        break
    m = value.search(line.decode('latin-1'))
    if m:
        seq += 1
        reading = {"seq": seq, "value": m.group(1).replace(' ', '')}
        client.publish("python/bench/readings", json.dumps(reading, separators=(",", ":")), qos=1)
client.loop_stop()
