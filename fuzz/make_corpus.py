#!/usr/bin/env python3
"""Writes the seed inputs of fuzz/corpus/module_process/ in the layout that
module_process_fuzzer.cpp decodes: one ordinary run per module, then edge cases.

Run it from anywhere: python3 fuzz/make_corpus.py
"""

import math
import pathlib
import struct
import tomllib

FUZZ = pathlib.Path(__file__).resolve().parent
OUT = FUZZ / "corpus" / "module_process"


def read_modules():
    """By short name, from modules/Dynamics.toml in the fuzzer's order: the index the fuzzer's
    first byte picks, the audio input pins, the control pin (or None) and whether it takes a time."""
    with open(FUZZ.parent / "modules" / "Dynamics.toml", "rb") as f:
        described = tomllib.load(f)["module"]
    modules = {}
    for index, module in enumerate(described):
        pins = [p for p in module["pin"] if p["direction"] == "in"]
        audio = [i for i, p in enumerate(pins) if p["datatype"] == "audio"]
        control = next(((i, p) for i, p in enumerate(pins) if p["datatype"] == "float"), None)
        modules[module["name"]] = (
            index,
            audio,
            control[0] if control else None,
            bool(control) and control[1].get("unit") == "ms",
        )
    return modules


MODULES = read_modules()
TIME_PINS = {name for name, (_, _, _, time) in MODULES.items() if time}

# Event kinds, and the pin byte for pin id p (the fuzzer maps byte b to b % (pins + 3) - 1).
VALUE, RAW, ON, OFF, MESSAGE, ANNOUNCE, UNKNOWN, EXTERNAL = range(8)


def pin(p):
    return p + 1


def raw_float(x):
    return bytes([15]) + struct.pack("<f", x)  # edgeFloat choice 15: four raw bytes


def time_window(samples):
    """A time-pin value as a window in samples at the host's rate (timeValue: up to 2^16)."""
    return bytes([40]) + struct.pack("<H", samples)


# Time-pin values every module turns into a window of one sample (see timeValue).
TIME_EDGES = [bytes([44]), bytes([48]), bytes([52, 5]), bytes([56]), bytes([60]), bytes([62])]


def event(kind, position, pin_byte=0, payload=b""):
    body = bytes([kind, position])
    if kind != ANNOUNCE:
        body += bytes([pin_byte])
    return body + payload


def call(count, events, audio, sorted_=True):
    return struct.pack("<H", count) + bytes([1 if sorted_ else 0, len(events)]) + b"".join(events) + audio


def raw_samples(values):
    """Audio mode 2: a pattern of up to 64 raw samples, repeated over the block."""
    return bytes([2, len(values) - 1]) + b"".join(struct.pack("<f", v) for v in values)


def sine(length=64, amplitude=1.5):
    return [amplitude * math.sin(2 * math.pi * i / length) for i in range(length)]


def start_events(inputs, control=None, value=None):
    """value: bytes already encoded, or a float sent raw."""
    events = [event(ON, 0, pin(p)) for p in inputs]
    if control is not None:
        payload = value if isinstance(value, bytes) else raw_float(value)
        events.insert(0, event(VALUE, 0, pin(control), payload))
    return events + [event(ANNOUNCE, 0)]


def header(module, rate=0, block=0, setup=0):
    return bytes([module, rate, block, setup])


CONTROL_VALUES = {"hardknee": 0.5, "peakhold": time_window(288), "smoother": time_window(240)}


def seeds():
    for name, (index, input_pins, control, _) in MODULES.items():
        audio = b"".join(raw_samples(sine(64, 1.0 + k)) for k in range(len(input_pins)))
        start = start_events(input_pins, control, CONTROL_VALUES.get(name))
        body = call(256, start, audio) + call(100, [], bytes([0] * len(input_pins))) + call(64, [], audio)
        yield f"{name}_plain", header(index) + body
        # Streaming stops mid-block, then the module counts down and sleeps.
        stop = [event(OFF, 125, pin(p)) for p in input_pins]
        yield f"{name}_sleep", header(index) + call(256, start, audio) + call(512, stop, audio) + call(512, [], audio)

    # Odd sample rates and block sizes the host reports.
    for rate in (6, 7, 8, 9, 11, 12, 14):
        yield f"smoother_rate{rate}", header(3, rate=rate) + call(300, start_events([1], 0, time_window(960)), raw_samples(sine()))
        yield f"peakhold_rate{rate}", header(2, rate=rate) + call(300, start_events([1], 0, time_window(65535)), raw_samples(sine()))
        yield f"ms2factor_rate{rate}", header(5, rate=rate) + call(64, start_events([0]), raw_samples([0.0, 1.0, -1.0, 1e-3]))
    for block in (1, 3, 4, 5, 6):
        yield f"integrator_block{block}", header(4, block=block) + call(32, start_events([0]), raw_samples([1.0])) + call(
            32, [event(OFF, 0, pin(0))], bytes([0])
        )

    # Values that break careless arithmetic, as control values and as samples.
    edges = [float("nan"), float("inf"), -float("inf"), 1e-45, -1e-40, 3.4e38, -3.4e38, 0.0, -0.0]
    for name, control in (("hardknee", 0), ("peakhold", 0), ("smoother", 0)):
        index = MODULES[name][0]
        values = TIME_EDGES if name in TIME_PINS else [raw_float(v) for v in edges]
        events = start_events([1]) + [event(VALUE, 10 * k, pin(control), v) for k, v in enumerate(values)]
        yield f"{name}_edge_values", header(index) + call(200, events, raw_samples(edges))
    yield "factor2ms_edge_samples", header(6) + call(64, start_events([0]), raw_samples(edges))
    yield "peak_edge_samples", header(0) + call(64, start_events([0, 1]), raw_samples(edges) + raw_samples(edges[::-1]))

    # Events the framework must survive: unknown pins and types, odd value sizes, positions
    # beyond the block and out of order, negative and empty blocks.
    odd = [
        event(RAW, 0, pin(0), bytes([2])),  # size -1
        event(RAW, 3, pin(0), bytes([23]) + bytes(range(20))),  # 20 bytes
        event(EXTERNAL, 4, pin(0), raw_float(0.25)),
        event(VALUE, 5, 255, struct.pack("<i", -7) + raw_float(1.0)),  # pin -7
        event(ON, 6, pin(5)),
        event(MESSAGE, 7, pin(0)),
        event(UNKNOWN, 8, pin(1), bytes([2])),  # type 105
        event(VALUE, 250, pin(0), raw_float(1.0)),  # at count
        event(ON, 252, pin(1)),  # at -1
        event(OFF, 253, pin(1)),  # at INT32_MAX
    ]
    yield "hardknee_odd_events", header(1, setup=1) + call(128, odd, raw_samples(sine()), sorted_=False)
    yield "smoother_odd_events", header(3, setup=1) + call(128, odd, raw_samples(sine())) + call(0, odd[:3], b"\x00")
    yield "integrator_negative_count", header(4) + struct.pack("<H", 4097) + bytes([1, 1]) + event(ON, 0, pin(0)) + b"\x00" + call(
        4096, start_events([0]), raw_samples([0.5])
    )
    yield "peak_no_events", header(0) + call(512, [], raw_samples([1.0]) + raw_samples([2.0]))
    yield "empty", b""


def main():
    OUT.mkdir(parents=True, exist_ok=True)
    for name, data in seeds():
        (OUT / name).write_bytes(data)


if __name__ == "__main__":
    main()
