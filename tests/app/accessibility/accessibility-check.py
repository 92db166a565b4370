#!/usr/bin/python3
"""What a screen reader hears, on the real AT-SPI bus under Xvfb: the status line's name follows a
plug and an unplug; the progress bar is named and each phase is signalled once, not each percent.
Usage: accessibility-check.py DRIVER. Starts its own Xvfb, session bus and accessibility bus."""
import os, shutil, subprocess, sys, time


def check(driver_path):
    import pyatspi
    from gi.repository import GLib
    events = []

    def heard(event):  # Qt sends the object, not its new text, with a change: ask the object.
        kind, source = event.type.rsplit("-", 1)[1], event.source
        events.append((kind, source.getRole(), getattr(source, kind)))

    pyatspi.Registry.registerEventListener(heard, "object:property-change:accessible-name",
                                           "object:property-change:accessible-description")

    def pump_until(what, condition):
        deadline = time.monotonic() + 30
        while not condition():
            if time.monotonic() > deadline:
                sys.exit("not heard: %s\nheard: %s" % (what, events))
            GLib.MainContext.default().iteration(False)
            time.sleep(0.005)

    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp"],
                            pass_fds=[write_end], stderr=subprocess.DEVNULL)
    os.close(write_end)
    env = dict(os.environ, DISPLAY=":" + os.fdopen(read_end).readline().strip(),
               QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", LANG="C.UTF-8")
    driver = subprocess.Popen([driver_path], stdin=subprocess.PIPE, env=env, text=True)

    def command(line, status):  # the status line's text once the command is done
        del events[:]
        driver.stdin.write(line + "\n")
        driver.stdin.flush()
        pump_until(line, lambda: (pyatspi.ROLE_LABEL, status) in [e[1:] for e in events])

    def find(role):
        desktop = pyatspi.Registry.getDesktop(0)
        app = next((a for a in desktop if a and a.get_process_id() == driver.pid), None)
        return app and pyatspi.findAllDescendants(app, lambda o: o.getRole() == role)

    try:
        pump_until("the window", lambda: find(pyatspi.ROLE_LABEL))
        if "Mirt VQ320 device NOT found" not in [label.name for label in find(pyatspi.ROLE_LABEL)]:
            sys.exit("no status line at start")
        command("plug", "Mirt VQ320 device connected")
        command("unplug", "Mirt VQ320 device NOT found")
        # The bus keeps one program's events in order: the status line after the phases marks
        # the end of what they signalled.
        command("progress\nplug", "Mirt VQ320 device connected")
        phases = [e for e in events if e[2] == "Done"]
        if len(phases) != 8 or [e[0] for e in phases].count("name") != 4:
            sys.exit("not one name and one description for each of the 4 phases: %s" % events)
        if "Firmware written" not in [bar.name for bar in find(pyatspi.ROLE_PROGRESS_BAR)]:
            sys.exit("the progress bar has no name")
    finally:
        driver.stdin.close()
        try:
            driver.wait(timeout=10)
        except subprocess.TimeoutExpired:
            driver.kill()
        xvfb.terminate()
    if driver.wait() != 0:
        sys.exit("the driver ended with %d" % driver.returncode)


if __name__ == "__main__":
    try:
        import pyatspi  # noqa: F401
    except ImportError:
        print("SKIPPED: python3-pyatspi is not installed")
        sys.exit(77)
    for need in ("Xvfb", "dbus-run-session", "/usr/libexec/at-spi-bus-launcher"):
        if not shutil.which(need):
            print("SKIPPED: %s is not installed" % need)
            sys.exit(77)
    if os.environ.get("VQ_A11Y_SESSION") != "1":
        # A session bus of our own, which starts the accessibility bus when it is asked for.
        env = dict(os.environ, VQ_A11Y_SESSION="1")
        sys.exit(subprocess.call(["dbus-run-session", "--", sys.executable] + sys.argv, env=env))
    check(sys.argv[1])
