#!/usr/bin/env python3
"""The update benchmark's clock, inside the test VM, and its report on the host.

watch OUT MIXER_FIFO LOADER_FIFO ARMED: writes one line per event to OUT, stamped in nanoseconds
of CLOCK_MONOTONIC: the kernel's USB uevents (as they are read), programs started and ended (the
kernel's process events, with the kernel's own stamp), every syslog(3) line (a socket at
/dev/log: the VM runs no syslog daemon) and every line written to MIXER_FIFO (the emulated
mixer's reports). While the file ARMED exists, each new DFU-mode interface of 0483:df11 also
writes its device's port path to LOADER_FIFO, which the run by hand waits on.

report EVENTS UPDATER_OUT...: the figures of each round and their medians."""
import os
import select
import socket
import statistics
import struct
import sys
import time

TRACED = {"dfu-util", "amidi"}


def watch(out_path, mixer_fifo, loader_fifo, armed):
    out = open(out_path, "w", buffering=1)

    def put(stamp, text):
        out.write(f"{stamp} {text}\n")

    uevents = socket.socket(socket.AF_NETLINK, socket.SOCK_DGRAM, 15)  # NETLINK_KOBJECT_UEVENT
    uevents.bind((0, 1))
    procs = socket.socket(socket.AF_NETLINK, socket.SOCK_DGRAM, 11)  # NETLINK_CONNECTOR
    procs.bind((os.getpid(), 1))  # CN_IDX_PROC
    listen = struct.pack("=IIIIHHI", 1, 1, 0, 0, 4, 0, 1)  # PROC_CN_MCAST_LISTEN
    procs.send(struct.pack("=IHHII", 16 + len(listen), 3, 0, 0, os.getpid()) + listen)
    if os.path.exists("/dev/log"):
        os.unlink("/dev/log")
    syslog = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    syslog.bind("/dev/log")
    mixer = os.open(mixer_fifo, os.O_RDWR | os.O_NONBLOCK)
    loader = os.open(loader_fifo, os.O_RDWR | os.O_NONBLOCK)
    traced = {}
    pending = b""
    put(time.monotonic_ns(), "ready")
    while True:
        readable, _, _ = select.select([uevents, procs, syslog, mixer], [], [])
        stamp = time.monotonic_ns()
        if uevents in readable:
            fields = uevents.recv(65536).split(b"\0")
            env = dict(f.decode(errors="replace").split("=", 1) for f in fields[1:] if b"=" in f)
            if env.get("SUBSYSTEM") == "usb":
                node = env.get("DEVPATH", "").rsplit("/", 1)[-1]
                put(stamp, f"uevent {env.get('ACTION')} {env.get('DEVTYPE')} {node} "
                           f"{env.get('PRODUCT', '-')} {env.get('INTERFACE', '-')}")
                if (env.get("ACTION") == "add" and env.get("INTERFACE") == "254/1/2"
                        and env.get("PRODUCT", "").startswith("483/df11/")
                        and os.path.exists(armed)):
                    os.write(loader, node.split(":")[0].encode() + b"\n")
        if procs in readable:
            data = procs.recv(4096)
            what, _, kstamp = struct.unpack_from("=IIQ", data, 36)
            if what == 0x2:  # exec
                pid, tgid = struct.unpack_from("=ii", data, 52)
                try:
                    with open(f"/proc/{pid}/comm") as f:
                        comm = f.read().strip()
                except OSError:
                    comm = "?"
                if comm in TRACED:
                    traced[pid] = comm
                    put(kstamp, f"exec {comm} {pid}")
            elif what == 0x80000000:  # exit
                pid, tgid, code = struct.unpack_from("=iiI", data, 52)
                if pid == tgid and pid in traced:
                    put(kstamp, f"exit {traced.pop(pid)} {pid} {code >> 8}")
        if syslog in readable:
            line = syslog.recv(65536).decode(errors="replace")
            put(stamp, "log " + line.split(": ", 1)[-1].strip().replace("\n", " | "))
        if mixer in readable:
            pending += os.read(mixer, 65536)
            *lines, pending = pending.split(b"\n")
            for line in lines:
                put(stamp, "mixer " + line.decode(errors="replace"))


def report(events_path, updater_outs):
    rounds = []
    for line in open(events_path):
        stamp, _, text = line.rstrip("\n").partition(" ")
        if not stamp.isdigit():
            continue  # the rest of a syslog line of several lines (an older probe's)
        if text.startswith("mixer mark "):
            kind, number = text.split()[2:4]
            rounds.append({"kind": kind, "number": int(number), "events": []})
        elif rounds:
            rounds[-1]["events"].append((int(stamp), text))
    shown = {}
    for path in updater_outs:
        number = int(path.rsplit(".", 2)[-2])
        shown[number] = [(int(a), int(b), t) for _, a, b, t in
                         (l.rstrip("\n").split(" ", 3) for l in open(path) if l.startswith("SHOWN "))]

    def first(events, after, test):
        if after is None:
            return None, None
        return next(((s, t) for s, t in events if s >= after and test(t)), (None, None))

    ms = lambda a, b: (b - a) / 1e6
    table = {"program": [], "hand": []}
    for r in rounds:
        ev = r["events"]
        received, _ = first(ev, 0, lambda t: t.startswith("mixer RECEIVED f0 60 07 10 4d f7"))
        device, _ = first(ev, received, lambda t: t.startswith("uevent add usb_device")
                          and " 483/df11/" in t)
        interface, _ = first(ev, received, lambda t: t.startswith("uevent add usb_interface")
                             and t.endswith(" 254/1/2"))
        started, text = first(ev, interface, lambda t: t.startswith("exec dfu-util"))
        if None in (received, device, interface, started):
            print(f"{r['kind']} {r['number']}: incomplete", file=sys.stderr)
            continue
        pid = text.split()[2]
        ended, text = first(ev, started, lambda t: t.startswith(f"exit dfu-util {pid} "))
        if ended is None:
            print(f"{r['kind']} {r['number']}: dfu-util did not end", file=sys.stderr)
            continue
        status = text.split()[3]
        row = {"arrival_to_start": ms(interface, started), "device_to_interface":
               ms(device, interface), "dfu_util": ms(started, ended), "status": status}
        if r["kind"] == "program":
            found, _ = first(ev, interface, lambda t: t.startswith("log The mixer's loader:"))
            alert = next(((s, p, t) for s, p, t in shown.get(r["number"], []) if s >= ended), None)
            if found is None or alert is None:
                print(f"program {r['number']}: no loader line or outcome alert", file=sys.stderr)
                continue
            row.update(arrival_to_found=ms(interface, found), exit_to_shown=ms(ended, alert[0]),
                       exit_to_painted=ms(ended, alert[1]), whole=ms(received, alert[0]),
                       outcome=alert[2])
        else:
            row.update(whole=ms(received, ended))
        table[r["kind"]].append(row)
        print(f"{r['kind']} {r['number']}: " + ", ".join(
            f"{k} {v:.2f}" if isinstance(v, float) else f"{k} {v}" for k, v in row.items()))
    med = lambda kind, key: statistics.median(row[key] for row in table[kind])
    if table["program"] and table["hand"]:
        print(f"medians of {len(table['program'])} program and {len(table['hand'])} hand rounds (ms):")
        for key in ("device_to_interface", "arrival_to_found", "arrival_to_start",
                    "exit_to_shown", "exit_to_painted", "dfu_util", "whole"):
            values = [f"{kind} {med(kind, key):.2f}" for kind in ("program", "hand")
                      if key in table[kind][0]]
            print(f"  {key}: " + ", ".join(values))
        print(f"  whole ratio: {med('program', 'whole') / med('hand', 'whole'):.3f}x; "
              f"program's own time (arrival to start + exit to shown) "
              f"{med('program', 'arrival_to_start') + med('program', 'exit_to_shown'):.2f} ms, "
              f"by hand's arrival to start {med('hand', 'arrival_to_start'):.2f} ms")


if __name__ == "__main__":
    if sys.argv[1] == "watch":
        watch(*sys.argv[2:6])
    else:
        report(sys.argv[2], sys.argv[3:])
