#!/usr/bin/python3
"""The window as a screen reader meets it, on the real AT-SPI bus under Xvfb: the status line's
name follows a plug and an unplug of the mixer; the progress window's bar is named and each phase
is signalled once. Usage: accessibility-check.py DRIVER (AccessibilityDriver). Starts its own
Xvfb, session bus and accessibility bus; exits 77 (skipped) when they are not installed."""
import os
import shutil
import subprocess
import sys
import time

SKIP = 77
LAUNCHER = "/usr/libexec/at-spi-bus-launcher"


def skip(reason):
    print("SKIPPED: " + reason)
    sys.exit(SKIP)


def start_display():
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp",
                             "-screen", "0", "1024x768x24"], pass_fds=[write_end],
                            stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as numbers:
        display = numbers.readline().strip()
    if not display:
        sys.exit("Xvfb did not start")
    return xvfb, ":" + display


def find_app(desktop, pid):
    return next((a for a in desktop if a is not None and a.get_process_id() == pid), None)


def main(driver_path):
    import pyatspi
    from gi.repository import GLib

    events = []

    def heard(event):
        # Qt sends the object, not its new text, with a change: ask the object for it.
        source = event.source
        text = source.description if event.type.endswith("description") else source.name
        events.append((event.type, source.getRole(), text))

    pyatspi.Registry.registerEventListener(heard, "object:property-change:accessible-name",
                                           "object:property-change:accessible-description")

    def pump_until(what, condition, timeout=10.0):
        deadline = time.monotonic() + timeout
        while not condition():
            if time.monotonic() > deadline:
                sys.exit("not heard: %s\nheard: %s" % (what, events))
            GLib.MainContext.default().iteration(False)
            time.sleep(0.005)

    xvfb, display = start_display()
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", LANG="C.UTF-8")
    driver = subprocess.Popen([driver_path], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              env=env, text=True)

    def command(line):
        driver.stdin.write(line + "\n")
        driver.stdin.flush()
        if driver.stdout.readline().strip() != "ok":
            sys.exit("the driver did not answer " + line)

    def status_heard(name):
        return lambda: (pyatspi.ROLE_LABEL, name) in [e[1:] for e in events]

    connected, not_found = "Mirt VQ320 device connected", "Mirt VQ320 device NOT found"
    try:
        desktop = pyatspi.Registry.getDesktop(0)
        pump_until("the window on the bus", lambda: find_app(desktop, driver.pid), timeout=30)
        app = find_app(desktop, driver.pid)
        labels = pyatspi.findAllDescendants(app, lambda o: o.getRole() == pyatspi.ROLE_LABEL)
        if not_found not in [label.name for label in labels]:
            sys.exit("no status line at start among %s" % [label.name for label in labels])
        command("plug")
        pump_until("the status line after the plug", status_heard(connected))
        del events[:]
        command("unplug")
        pump_until("the status line after the unplug", status_heard(not_found))

        # One update's phases; the plug behind them marks the end of what they signal, as the
        # bus keeps one program's events in order.
        del events[:]
        command("progress")
        command("plug")
        pump_until("the status line after the phases", status_heard(connected))
        phases = [e for e in events if e[2] == "Done"]
        names = [e for e in phases if e[0] == "object:property-change:accessible-name"]
        if len(names) != 4 or len(phases) != 8:
            sys.exit("not one signal for each of the 4 phases: %s" % events)
        bars = pyatspi.findAllDescendants(app, lambda o: o.getRole() == pyatspi.ROLE_PROGRESS_BAR)
        if "Firmware written" not in [bar.name for bar in bars]:
            sys.exit("no progress bar named 'Firmware written' among %s" % [b.name for b in bars])
    finally:
        driver.stdin.close()
        try:
            driver.wait(timeout=10)
        except subprocess.TimeoutExpired:
            driver.kill()
            driver.wait()
            print("the driver did not end when its input did")
        xvfb.terminate()
        xvfb.wait()
    if driver.returncode != 0:
        sys.exit("the driver ended with %d" % driver.returncode)
    print("the status line and the progress window are heard")


if __name__ == "__main__":
    try:
        import pyatspi  # noqa: F401
    except ImportError:
        skip("python3-pyatspi is not installed")
    for tool in ("Xvfb", "dbus-run-session"):
        if shutil.which(tool) is None:
            skip(tool + " is not installed")
    if not os.access(LAUNCHER, os.X_OK):
        skip("at-spi2-core is not installed")
    if os.environ.get("VQ_A11Y_SESSION") != "1":
        # A session bus of our own, which starts the accessibility bus when asked for it.
        env = dict(os.environ, VQ_A11Y_SESSION="1")
        sys.exit(subprocess.call(["dbus-run-session", "--", sys.executable] + sys.argv, env=env))
    main(sys.argv[1])
