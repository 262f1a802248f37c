#!/usr/bin/env python3
"""What Home Assistant shows of the bridge's entities, from the retained messages.

Reads a JSON object {topic: payload} (what a new subscriber to '#' gets) and prints
one line per discovered entity, "object_id state", the state as Home Assistant
derives it: its availability topics first (mode all: every one must say its
available payload, a topic never published counts as not available), then the
state topic's payload through the value template, rendered with Jinja2 as Home
Assistant renders it (value, value_json). A binary sensor is on for "ON", off for
"OFF" and unknown for "None" or anything else; a sensor shows what was rendered (an
enum sensor unknown for what is not one of its options); a
button, which has no state topic, is unknown (never pressed) while available.
"""
import json
import sys

import jinja2


def render(template, payload):
    if template is None:
        return payload
    try:
        value_json = json.loads(payload)
    except ValueError:
        value_json = None
    env = jinja2.Environment(undefined=jinja2.ChainableUndefined)
    return env.from_string(template).render(value=payload, value_json=value_json).strip()


def state_of(component, config, retained):
    entries = config.get("availability")
    if entries is None and "availability_topic" in config:
        entries = [{"topic": config["availability_topic"],
                    "payload_available": config.get("payload_available", "online")}]
    if entries:
        says = [retained.get(e["topic"]) == e.get("payload_available", "online") for e in entries]
        available = all(says) if config.get("availability_mode", "latest") == "all" else any(says)
        if not available:
            return "unavailable"
    if "state_topic" not in config:  # a button: a state of its own only once pressed
        return "unknown"
    payload = retained.get(config["state_topic"])
    if payload is None:
        return "unknown"
    shown = render(config.get("value_template"), payload)
    if component != "binary_sensor":
        # An enum sensor takes only a state of its options.
        if config.get("device_class") == "enum" and shown not in config["options"]:
            return "unknown"
        return shown
    if shown == config.get("payload_on", "ON"):
        return "on"
    if shown == config.get("payload_off", "OFF"):
        return "off"
    return "unknown"


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        retained = json.load(f)
    for topic in sorted(retained):
        parts = topic.split("/")
        if len(parts) < 4 or parts[-1] != "config" or not retained[topic]:
            continue
        config = json.loads(retained[topic])
        print(config["object_id"], state_of(parts[1], config, retained))


if __name__ == "__main__":
    main()
