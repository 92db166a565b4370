#!/usr/bin/env python3
"""Start-up to the first painted frame, and peak RSS, of vq320-updater against the Qt Widgets
hello-world built in the same tree, and against its own main window shown bare (the floor: what
the window itself takes). Each program runs with the first-frame probe preloaded, which ends it
right after its first window is painted; runs alternate between the programs.

Usage: bench/startup/run-startup-bench.py [BUILD_DIR] [--runs N] [--instructions]
BUILD_DIR defaults to build/release, else build/dev. Without a display the runs use Qt's
offscreen platform. --instructions also counts each program's instructions to its first frame
once under valgrind (callgrind): a figure the machine's other load does not move."""
import argparse
import os
import re
import statistics
import subprocess
import sys
import time
from pathlib import Path


def instructions(program, env):
    result = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
                             program], env=env, capture_output=True, text=True, check=True)
    return int(re.search(r"refs:\s+([\d,]+)", result.stderr).group(1).replace(",", ""))


def run_once(program, env):
    start = time.perf_counter()
    # The programs' own log lines (no sequencer here, say) would only clutter the table.
    quiet = [(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
             (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)]
    pid = os.posix_spawn(program, [program], env, file_actions=quiet)
    _, status, usage = os.wait4(pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{program} did not end at its first frame (status {status})")
    cpu = usage.ru_utime + usage.ru_stime
    return elapsed * 1000.0, cpu * 1000.0, usage.ru_maxrss  # ms, ms, KiB


def main():
    root = Path(__file__).resolve().parents[2]
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir", nargs="?")
    parser.add_argument("--runs", type=int, default=30)
    parser.add_argument("--instructions", action="store_true")
    args = parser.parse_args()
    build = Path(args.build_dir) if args.build_dir else next(
        (root / "build" / p for p in ("release", "dev") if (root / "build" / p).exists()), None)
    if build is None:
        sys.exit("no build directory: configure and build a preset first")
    programs = {
        "vq320-updater": build / "app" / "vq320-updater",
        "hello-world": build / "bench" / "startup" / "bench_hello_widgets",
        "bare window": build / "bench" / "startup" / "bench_bare_window",
    }
    probe = build / "bench" / "startup" / "libvq_first_frame_probe.so"
    for path in [probe, *programs.values()]:
        if not path.exists():
            sys.exit(f"missing {path}: build the tree first")

    env = dict(os.environ)
    env["LD_PRELOAD"] = str(probe)
    if not env.get("DISPLAY") and not env.get("WAYLAND_DISPLAY"):
        env["QT_QPA_PLATFORM"] = "offscreen"
    # Warm the page cache and the font cache once, uncounted.
    for program in programs.values():
        run_once(str(program), env)

    samples = {name: ([], [], []) for name in programs}
    for _ in range(args.runs):
        for name, program in programs.items():
            for column, value in zip(samples[name], run_once(str(program), env)):
                column.append(value)

    print(f"{build.name} build, {args.runs} runs each, platform "
          f"{env.get('QT_QPA_PLATFORM', 'default')}")
    # CPU time (user and system) beside the wall time: on a machine busy with other work the wall
    # time mostly measures the wait for a processor.
    print(f"{'program':<15} {'first frame ms (median)':>24} {'min':>7} {'CPU ms (median)':>16} "
          f"{'peak RSS KiB (median)':>22}")
    medians = {}
    for name, (times, cpu, rss) in samples.items():
        medians[name] = tuple(statistics.median(column) for column in (times, cpu, rss))
        print(f"{name:<15} {medians[name][0]:>24.1f} {min(times):>7.1f} {medians[name][1]:>16.1f} "
              f"{medians[name][2]:>22.0f}")
    app, hello, bare = medians["vq320-updater"], medians["hello-world"], medians["bare window"]

    def ratios(a, b):
        return (f"time {a[0] / b[0]:.2f}x (CPU {a[1] / b[1]:.2f}x), "
                f"peak RSS {a[2] / b[2]:.2f}x")

    print(f"the updater against the hello-world: {ratios(app, hello)} "
          f"(goal: at most 1.10x time, 1.05x RSS)")
    print(f"the bare window against the hello-world: {ratios(bare, hello)}")
    print(f"the updater against its bare window: {ratios(app, bare)}")
    if args.instructions:
        counts = {name: instructions(str(program), env) for name, program in programs.items()}
        print("instructions to the first frame: " + ", ".join(
            f"{name} {count / 1e6:.2f} M ({count / counts['hello-world']:.3f}x)"
            for name, count in counts.items()))


if __name__ == "__main__":
    main()
