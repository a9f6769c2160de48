#!/usr/bin/env python3
"""A whole logging session, driven only through the program's real X window.

Starts its own Xvfb and a simulated sensor bus, runs veldra-logger in a scratch working folder
and works it with xdotool as a person would: adds two sensors through the address dialog, sets
the interval and the COM port, chooses the log file in the file dialog, starts, lets two cycles
run, stops and quits. Then checks the text log and the CSV log line by line against the values
the simulator sent, starts the program again and checks that the sensor list, interval, COM port
and log file came back. Screenshots of the running session and of the address dialog are saved.

Then a session with a good, a failing and a silent sensor at 1280x900: the plot and health
pages are shown and photographed, the logs checked for what each sensor did; and the same once
more at scale factor 2 with a dark palette (the program's entry for a dark desktop theme, given
with --dark-program).

    session_e2e.py --program P --sim S --panel-file F [--demo-settings D] [--dark-program P2]
                   [--views-cycles N] [--screenshots DIR] [--keep]

Exit status 0 on success, 1 on a failed check (with what was seen), 2 on bad usage.
"""

import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SENSORS = [0x0A1B2C, 0x01A2B3]
INTERVAL = 6  # seconds: the least the program allows for two sensors
COM = 40
# The views session: one sensor answers well, one answers with faults now and then, and one
# is listed but never answers.
GOOD, FAILING, SILENT = 0x0A1B2C, 0x01A2B3, 0x00FE01
VIEWS_COM = 41
VIEWS_INTERVAL = 9  # the least for three sensors; the silent one alone takes 8 s of it
MAIN_TITLE = "VELDRA Logger"
ADDRESS_TITLE = "Add Sensor"
FILE_DIALOG_TITLE = "Please enter Path and Filename for logging Data..."

# Control ids of the panel file.
MAIN_ADD_SENSOR, START_STOP, MAIN_QUIT = 2, 7, 8
SET_LOGFILE, INTERVAL_FIELD, COMPORT_FIELD = 4, 23, 24
SENSOR_LIST, LOGFILE_FIELD = 21, 28
ADDRESS_FIELD, ADDRESS_ADD = 2, 3


class Failure(Exception):
    pass


def wait_for(what, predicate, timeout, interval=0.1):
    """Polls predicate until it returns something true; fails after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


class Desktop:
    """An Xvfb display of our own and xdotool/ImageMagick against it."""

    def __init__(self, work):
        self.work = work
        read_fd, write_fd = os.pipe()
        self.log = open(os.path.join(work, "xvfb.log"), "w")
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "2600x1900x24",
             "-nolisten", "tcp"],
            pass_fds=[write_fd], stdout=self.log, stderr=subprocess.STDOUT)
        os.close(write_fd)
        with os.fdopen(read_fd) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise Failure("Xvfb did not start; see " + self.log.name)
        self.env = dict(os.environ)
        self.env["DISPLAY"] = ":" + number
        self.env.pop("QT_QPA_PLATFORM", None)  # the real X window, not offscreen
        self.env.pop("WAYLAND_DISPLAY", None)
        self.env["XDG_RUNTIME_DIR"] = os.path.join(work, "runtime")
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)

    def close(self):
        self.xvfb.terminate()
        try:
            self.xvfb.wait(10)
        except subprocess.TimeoutExpired:
            self.xvfb.kill()
            self.xvfb.wait()
        self.log.close()

    def xdotool(self, *args, check=True):
        r = subprocess.run(["xdotool", *map(str, args)], env=self.env, capture_output=True,
                           text=True, timeout=30)
        if os.environ.get("VELDRA_E2E_TRACE"):  # every xdotool call, for debugging a run
            print("xdotool", *args, "->", r.stdout.strip(), r.stderr.strip(), file=sys.stderr)
        if check and r.returncode != 0:
            raise Failure(f"xdotool {' '.join(map(str, args))}: {r.stderr.strip()}")
        return r.stdout

    def windows(self, pid, title=None):
        """Visible windows of the process, optionally with exactly this title."""
        args = ["search", "--all", "--onlyvisible", "--pid", pid]
        if title is not None:
            args += ["--name", "^" + re.escape(title) + "$"]
        else:
            args += ["--name", ".*"]
        out = self.xdotool(*args, check=False)
        return [w for w in out.split() if w.isdigit()]

    def geometry(self, window):
        out = self.xdotool("getwindowgeometry", window, check=False)
        pos = re.search(r"Position: (-?\d+),(-?\d+)", out)
        size = re.search(r"Geometry: (\d+)x(\d+)", out)
        if not pos or not size:
            return None
        return tuple(int(v) for v in pos.groups() + size.groups())

    def title(self, window):
        return self.xdotool("getwindowname", window, check=False).strip()

    def describe(self, pid):
        """Every visible window of the process, for failure reports."""
        lines = []
        for w in self.windows(pid):
            lines.append(f"  window {w}: '{self.title(w)}' {self.geometry(w)}")
        return "\n".join(lines) or "  (no visible window)"

    def click(self, window, rect, dx=None):
        left, top, width, height = rect
        x = left + (width // 2 if dx is None else dx)
        y = top + height // 2
        self.xdotool("mousemove", "--window", window, x, y, "click", "1")

    def focus(self, window):
        self.xdotool("windowfocus", "--sync", window)

    def type(self, text):
        self.xdotool("type", "--delay", "30", text)

    def key(self, *keys):
        self.xdotool("key", "--delay", "30", *keys)

    def screenshot(self, window, path):
        subprocess.run(["import", "-window", window, path], env=self.env, check=True,
                       capture_output=True, timeout=60)

    def screenshot_all(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env, check=False,
                       capture_output=True, timeout=60)


def control_rects(panel_file):
    """Control geometry by panel resource and control id, from the panel file."""
    with open(panel_file, encoding="utf-8") as f:
        doc = json.load(f)
    rects = {}
    for panel in doc["panels"]:
        rects[panel["resource"]] = {
            c["id"]: (c["left"], c["top"], c["width"], c["height"]) for c in panel["controls"]}
    return rects


class Program:
    def __init__(self, desktop, binary, work, run, env=None):
        self.desktop = desktop
        self.out = open(os.path.join(work, f"program-{run}.log"), "w")
        self.proc = subprocess.Popen([binary], cwd=work, env={**desktop.env, **(env or {})},
                                     stdout=self.out, stderr=subprocess.STDOUT)
        self.pid = self.proc.pid
        self.log_path = self.out.name

    def alive(self):
        return self.proc.poll() is None

    def output(self):
        self.out.flush()
        with open(self.log_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def main_window(self, timeout=60, min_width=600):
        """The main window: the visible window with the main title once the splash is gone."""
        def found():
            if not self.alive():
                raise Failure(f"the program ended (status {self.proc.returncode}) before its "
                              f"main window showed:\n{self.output()}")
            wins = self.desktop.windows(self.pid, MAIN_TITLE)
            big = [w for w in wins
                   if (self.desktop.geometry(w) or (0, 0, 0, 0))[2] >= min_width]
            # The splash shares the title; wait until it has gone.
            return big[0] if len(big) == 1 and len(wins) == 1 else None
        return self.settled(wait_for("the main window", found, timeout))

    def window(self, title, timeout=30):
        def found():
            if not self.alive():
                raise Failure(f"the program ended while waiting for '{title}':\n{self.output()}")
            wins = self.desktop.windows(self.pid, title)
            return wins[0] if wins else None
        window = wait_for(f"the window '{title}'", found, timeout)
        return self.settled(window)

    def settled(self, window):
        """Waits until a newly shown window keeps its place, so clicks land where meant."""
        last = [None]

        def still():
            now = self.desktop.geometry(window)
            same = now is not None and now == last[0]
            last[0] = now
            return same
        wait_for("a new window to settle", still, 10, interval=0.25)
        time.sleep(0.3)  # the toolkit maps, then paints and takes input
        return window

    def popups(self):
        """Titles of message boxes that are showing."""
        titles = [self.desktop.title(w) for w in self.desktop.windows(self.pid)]
        return [t for t in titles if t in ("Info", "Error")]

    def wait_exit(self, timeout=30):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program did not end within {timeout} s after Quit")

    def kill(self):
        if self.alive():
            self.proc.kill()
            self.proc.wait()
        self.out.close()


def set_numeric(desktop, window, rect, text):
    """Replaces the text of a numeric field and commits it with Return."""
    desktop.click(window, rect, dx=20)
    desktop.key("ctrl+a")
    desktop.type(text)
    desktop.key("Return")


def read_lines(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8", errors="replace", newline="") as f:
        return f.read().split("\n")


def sensor_exchanges(sim_log):
    """The simulator's answers in order: (address, command, reply text or None)."""
    result = []
    with open(sim_log, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = re.match(r'([0-9a-f]{6}) (\S+) -> (?:"(.*)"|\(silent\))', line.rstrip("\n"))
            if m:
                result.append((int(m.group(1), 16), m.group(2), m.group(3)))
    return result


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_logs(log_path, sim_log):
    text = read_lines(log_path)
    csv = read_lines(log_path[:-3] + "csv")
    check(text and text[-1] == "", "the text log does not end with a line end")
    check(csv and csv[-1] == "", "the CSV log does not end with a line end")
    text, csv = text[:-1], csv[:-1]
    seen = "text log:\n" + "\n".join(text) + "\nCSV log:\n" + "\n".join(csv)

    n = len(SENSORS)
    width = 22 + 54 * n
    header = [
        "     ISO Timestamp    " + "".join(
            f"|                    Sensor {a:06x}                    " for a in SENSORS),
        "  YYYY-MM-DD HH:MM:SS " + "| Counts | Permittivity | Water Content | Temperature " * n,
        "-" * width,
    ]
    check(text[:3] == header, "text log header lines differ\n" + seen)
    csv_header = [
        '"sep=;"',
        "ISO Timestamp" + "".join(f";Sensor {a:06x}" * 4 for a in SENSORS),
        "YYYY-MM-DD HH:MM:SS" + ";Counts;Permittivity;Water Content;Temperature" * n,
    ]
    check(csv[:3] == csv_header, "CSV log header lines differ\n" + seen)

    rows, lines = csv[3:], text[3:]
    check(len(rows) >= 2 and len(rows) == len(lines),
          f"want two or more data lines in each log, alike in number; have {len(lines)} "
          f"and {len(rows)}\n" + seen)

    exchanges = sensor_exchanges(sim_log)
    per_cycle = 4 * n
    check(len(exchanges) >= per_cycle * len(rows),
          f"the simulator answered {len(exchanges)} requests, too few for {len(rows)} cycles")
    stamps = []
    for k, (row, line) in enumerate(zip(rows, lines)):
        fields = row.split(";")
        check(len(fields) == 1 + 4 * n, f"CSV row {k + 1} has {len(fields)} fields: {row}")
        check(re.fullmatch(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d", fields[0]) is not None,
              f"CSV row {k + 1} time stamp: {fields[0]}")
        stamps.append(time.mktime(time.strptime(fields[0], "%Y-%m-%d %H:%M:%S")))
        expected_line = f"  {fields[0]} "
        for s, address in enumerate(SENSORS):
            counts, perm, water, temp = fields[1 + 4 * s:5 + 4 * s]
            check(re.fullmatch(r"-?\d+", counts) is not None and all(
                re.fullmatch(r"-?\d+\.\d\d", v) for v in (perm, water, temp)),
                f"CSV row {k + 1}, sensor {address:06x}: not the formats %d;%.2f;%.2f;%.2f: "
                + row)
            sent = exchanges[k * per_cycle + 4 * s:k * per_cycle + 4 * s + 4]
            check([e[0] for e in sent] == [address] * 4 and
                  [e[1] for e in sent] == ["GetCounts!", "GetPermittivity!", "GetWaterContent!",
                                           "GetTemperature!"],
                  f"cycle {k + 1}: the simulator saw these requests for sensor "
                  f"{address:06x}: {sent}")
            check([e[2] for e in sent] == [counts, perm, water, temp],
                  f"cycle {k + 1}, sensor {address:06x}: logged {[counts, perm, water, temp]}, "
                  f"the simulator answered {[e[2] for e in sent]}")
            expected_line += (f"| {int(counts):05d}  |     {float(perm):5.2f}    "
                              f"|      {float(water):5.2f}    |    {float(temp):6.2f}   ")
        check(line == expected_line,
              f"text log line {k + 4} differs from its CSV row:\n  have '{line}'\n"
              f"  want '{expected_line}'")
    gaps = [b - a for a, b in zip(stamps, stamps[1:])]
    check(all(INTERVAL - 2 <= g <= INTERVAL + 10 for g in gaps),
          f"cycles should be about {INTERVAL} s apart; time stamps {rows}")


def check_settings(path, log_path):
    with open(path, encoding="utf-8") as f:
        record = json.load(f)
    controls = {c["id"]: c for c in record["controls"]}
    items = [(i["label"], i["value"]) for i in controls[SENSOR_LIST]["items"]]
    check(items == [(f"Adr. {a:06X}", a) for a in SENSORS],
          f"sensor list in {path}: {items}")
    check(controls[INTERVAL_FIELD]["value"] == INTERVAL,
          f"interval in {path}: {controls[INTERVAL_FIELD]['value']}")
    check(controls[COMPORT_FIELD]["value"] == COM,
          f"COM port in {path}: {controls[COMPORT_FIELD]['value']}")
    check(controls[LOGFILE_FIELD]["value"] == log_path,
          f"log file in {path}: {controls[LOGFILE_FIELD]['value']}")


def start_views_bus(args, work, sim_log):
    """The simulated bus of the views session; the silent sensor is not among its sensors."""
    with open(sim_log, "w") as sim_err:
        sim = subprocess.Popen(
            [args.sim, "--sensors", f"{GOOD:06x},{FAILING:06x}", "--fault-sensors",
             f"{FAILING:06x}", "--fault", "bad-checksum=0.2", "--fault", "non-numeric=0.1",
             "--fault", "empty-payload=0.05", "--fault", "silence=0.05", "--seed", "5",
             "--verbose", "--link", os.path.join(work, "sensor-bus"), "--com", str(VIEWS_COM),
             "--map-file", os.path.join(work, "comports.txt")],
            stdout=subprocess.DEVNULL, stderr=sim_err)
    wait_for("the simulated bus's COM mapping",
             lambda: os.path.exists(os.path.join(work, "comports.txt")), 30)
    return sim


def focus_measurements(desktop, main, rects):
    """A click into the measurements area gives the keyboard to its pages."""
    left, top, width, height = rects[20]
    desktop.xdotool("mousemove", "--window", main, left + width // 2, top + height // 2,
                    "click", "1")


def views_session(desktop, program, main, rects, log_path, cycles, shots, names):
    """Starts logging, lets `cycles` cycles run, photographs the plot and health pages."""
    desktop.click(main, rects[7])  # Start Logging
    csv_path = log_path[:-3] + "csv"

    def enough():
        popups = program.popups()
        if popups:
            raise Failure(f"a message box '{popups[0]}' came up at the start")
        return len(read_lines(csv_path)) >= 3 + cycles + 1
    # The silent sensor costs four time-outs of 2 s a cycle; cycles may overrun the interval.
    wait_for(f"{cycles} measurement cycles", enough, cycles * (VIEWS_INTERVAL + 8) + 30,
             interval=0.5)
    focus_measurements(desktop, main, rects)
    for key, name in names:
        desktop.key(key)  # alt+p shows the plot page, alt+h the health page
        time.sleep(1.0)  # it lays out and draws (at most once per frame)
        desktop.screenshot(main, os.path.join(shots, name))
    desktop.click(main, rects[7])  # Stop Logging
    time.sleep(0.5)


def check_views_logs(log_path):
    """Every cell of the silent sensor is an error; the good sensor has values in every cycle."""
    lines = read_lines(log_path)[3:-1]
    check(lines, "the views session wrote no data line")
    for line in lines:
        cells = [c.strip() for c in line.split("|")[1:]]
        check(len(cells) == 12, f"want 12 cells a line for three sensors: {line}")
        check("error" not in cells[0:4], f"the good sensor shows an error: {line}")
        check(cells[8:12] == ["error"] * 4, f"the silent sensor shows a value: {line}")


def show_failure(desktop, work, program):
    """What the screen and the program showed when a run failed."""
    if program is not None:
        print("windows seen:\n" + desktop.describe(program.pid), file=sys.stderr)
        desktop.screenshot_all(os.path.join(work, "screen-at-failure.png"))
        print("program output:\n" + program.output(), file=sys.stderr)


def stop_processes(program, sim):
    """Ends the program and the simulated bus, whatever state a run left them in."""
    if program is not None:
        program.kill()
    if sim is not None:
        sim.send_signal(signal.SIGTERM)
        try:
            sim.wait(10)
        except subprocess.TimeoutExpired:
            sim.kill()


def run_views(args, work, desktop, rects):
    views = os.path.join(work, "views")
    os.makedirs(views)
    shutil.copy(args.panel_file, os.path.join(views, "VELDRA_Loggerprogramm.uir"))
    log_path = os.path.join(views, "views-log.txt")
    shots = args.screenshots or work
    sim = program = None
    try:
        sim = start_views_bus(args, views, os.path.join(views, "sensor-sim.log"))
        subprocess.run(
            [args.demo_settings, "--panel-file", os.path.join(views, "VELDRA_Loggerprogramm.uir"),
             "--sensors", ",".join(f"{a:06x}" for a in (GOOD, FAILING, SILENT)),
             "--com", str(VIEWS_COM), "--interval", str(VIEWS_INTERVAL), "--log", log_path,
             os.path.join(views, "settings.txt")], check=True, capture_output=True, timeout=60)

        program = Program(desktop, args.program, views, "views")
        main = program.main_window()
        desktop.xdotool("windowsize", main, 1280, 900)
        wait_for("the window at 1280x900",
                 lambda: (desktop.geometry(main) or (0, 0, 0, 0))[2:] == (1280, 900), 10)
        views_session(desktop, program, main, rects, log_path, args.views_cycles, shots,
                      [("alt+p", "views-plot.png"), ("alt+h", "views-health.png")])
        desktop.click(main, rects[8])  # Quit
        status = program.wait_exit()
        check(status == 0, f"exit status {status} after Quit:\n{program.output()}")
        check_views_logs(log_path)
        print("views session: plot and health pages shown, logs as the sensors behaved")

        if args.dark_program:
            # The same folder, so the same settings; the window comes back at the size it had.
            program = Program(desktop, args.dark_program, views, "dark",
                              env={"QT_SCALE_FACTOR": "2"})
            main = program.main_window(min_width=1300)  # the splash is 760 pixels wide now
            desktop.xdotool("windowsize", main, 2000, 1440)
            wait_for("the window at 2000x1440 pixels",
                     lambda: (desktop.geometry(main) or (0, 0, 0, 0))[2:] == (2000, 1440), 10)
            # Clicks go to device pixels: the panel file's places, twice as far.
            scaled = {k: tuple(2 * v for v in r) for k, r in rects.items()}
            views_session(desktop, program, main, scaled, log_path,
                          max(2, args.views_cycles // 2), shots,
                          [("alt+p", "views-plot-dark-scale2.png")])
            desktop.click(main, scaled[8])
            status = program.wait_exit()
            check(status == 0, f"exit status {status} after Quit:\n{program.output()}")
            print("views session at scale factor 2 with a dark palette: shown and quit")
    except Exception:  # noqa: BLE001 - whatever went wrong, show what the screen showed
        show_failure(desktop, work, program)
        raise
    finally:
        stop_processes(program, sim)


def run(args, work):
    rects = control_rects(args.panel_file)
    main_rects, address_rects = rects[2], rects[1]
    shutil.copy(args.panel_file, os.path.join(work, "VELDRA_Loggerprogramm.uir"))
    log_path = os.path.join(work, "session-log.txt")
    sim_log = os.path.join(work, "sensor-sim.log")
    shots = args.screenshots or work
    os.makedirs(shots, exist_ok=True)

    desktop = Desktop(work)
    sim = program = None
    try:
        with open(sim_log, "w") as sim_err:
            sim = subprocess.Popen(
                [args.sim, "--sensors", ",".join(f"{a:06x}" for a in SENSORS), "--verbose",
                 "--link", os.path.join(work, "sensor-bus"), "--com", str(COM), "--map-file",
                 os.path.join(work, "comports.txt")],
                stdout=subprocess.DEVNULL, stderr=sim_err)
        wait_for("the simulated bus's COM mapping",
                 lambda: os.path.exists(os.path.join(work, "comports.txt")), 30)

        # First run: no settings file, the panel file's values.
        program = Program(desktop, args.program, work, 1)
        main = program.main_window()
        print(f"main window {main}: {desktop.geometry(main)}")

        for n, address in enumerate(SENSORS):
            desktop.click(main, main_rects[MAIN_ADD_SENSOR])
            dialog = program.window(ADDRESS_TITLE)
            set_numeric(desktop, dialog, address_rects[ADDRESS_FIELD], f"{address:06x}")
            if n == len(SENSORS) - 1:
                time.sleep(0.3)  # let the field repaint before the picture
                desktop.screenshot(dialog, os.path.join(shots, "address-dialog.png"))
            desktop.click(dialog, address_rects[ADDRESS_ADD])
            wait_for("the address dialog to close",
                     lambda: not desktop.windows(program.pid, ADDRESS_TITLE), 10)

        set_numeric(desktop, main, main_rects[INTERVAL_FIELD], str(INTERVAL))
        set_numeric(desktop, main, main_rects[COMPORT_FIELD], str(COM))

        desktop.click(main, main_rects[SET_LOGFILE])
        chooser = program.window(FILE_DIALOG_TITLE)
        desktop.focus(chooser)
        desktop.key("ctrl+a")
        desktop.type(log_path)
        time.sleep(0.3)  # a completer popup may be open: Return again if the first was its own

        def chooser_closed():
            if not desktop.windows(program.pid, FILE_DIALOG_TITLE):
                return True
            desktop.key("Return")
            return False
        wait_for("the file dialog to take the typed path", chooser_closed, 10, interval=1.0)
        wait_for("the chosen log file to be created", lambda: os.path.exists(log_path), 10)

        desktop.click(main, main_rects[START_STOP])
        csv_path = log_path[:-3] + "csv"

        def two_cycles():
            popups = program.popups()
            if popups:
                desktop.screenshot_all(os.path.join(work, "popup.png"))
                raise Failure(f"a message box '{popups[0]}' came up at the start; see "
                              f"{work}/popup.png")
            return len(read_lines(csv_path)) >= 3 + 2 + 1 and len(read_lines(log_path)) >= 6
        wait_for("two measurement cycles", two_cycles, 3 * INTERVAL + 20, interval=0.2)
        # Widen the window as a user would to see both sensors' columns; the command column
        # keeps its place, so the buttons stay where the panel file puts them.
        desktop.xdotool("windowsize", main, 1270, 640)
        wait_for("the wider window", lambda: (desktop.geometry(main) or (0, 0, 0))[2] == 1270, 10)
        time.sleep(0.8)  # laid out and repainted
        desktop.screenshot(main, os.path.join(shots, "session-running.png"))

        desktop.click(main, main_rects[START_STOP])  # stop
        desktop.click(main, main_rects[MAIN_QUIT])
        status = program.wait_exit()
        check(status == 0, f"exit status {status} after Quit:\n{program.output()}")
        check_logs(log_path, sim_log)
        check_settings(os.path.join(work, "settings.txt"), log_path)
        print("first run: logs and settings as expected")

        # Second run: what was saved comes back; quitting saves it again unchanged.
        shutil.copy(os.path.join(work, "settings.txt"), os.path.join(work, "settings-first.txt"))
        program = Program(desktop, args.program, work, 2)
        main = program.main_window()
        time.sleep(0.3)
        desktop.screenshot(main, os.path.join(shots, "session-restored.png"))
        desktop.click(main, main_rects[MAIN_QUIT])
        status = program.wait_exit()
        check(status == 0, f"exit status {status} after Quit:\n{program.output()}")
        check_settings(os.path.join(work, "settings.txt"), log_path)
        print("second run: sensor list, interval, COM port and log file came back")
        program.kill()
        program = None

        run_views(args, work, desktop, main_rects)
    except Exception:  # noqa: BLE001 - whatever went wrong, show what the screen showed
        show_failure(desktop, work, program)
        raise
    finally:
        stop_processes(program, sim)
        desktop.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--panel-file", required=True)
    parser.add_argument("--demo-settings",
                        help="veldra-demo-settings (default: beside the simulator)")
    parser.add_argument("--views-cycles", type=int, default=2,
                        help="cycles of the views session before its pictures (default 2; each "
                        "takes about 15 s, the silent sensor's time-outs)")
    parser.add_argument("--dark-program",
                        help="the program's entry with a dark palette, for the scale-2 picture")
    parser.add_argument("--screenshots", help="folder for the PNG pictures (default: scratch)")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    args = parser.parse_args()
    if not args.demo_settings:
        args.demo_settings = os.path.join(os.path.dirname(args.sim), "veldra-demo-settings")
    args.program, args.sim, args.panel_file, args.demo_settings = (
        os.path.abspath(p) for p in (args.program, args.sim, args.panel_file, args.demo_settings))
    if args.dark_program:
        args.dark_program = os.path.abspath(args.dark_program)
    if args.screenshots:
        args.screenshots = os.path.abspath(args.screenshots)
    for tool in ("Xvfb", "xdotool", "import"):
        if shutil.which(tool) is None:
            print(f"session_e2e: {tool} is missing (scripts/deps installs it)", file=sys.stderr)
            return 1
    work = tempfile.mkdtemp(prefix="veldra-e2e-")
    ok = False
    try:
        run(args, work)
        ok = True
    except Failure as e:
        print(f"FAILED: {e}", file=sys.stderr)
    finally:
        if ok and not args.keep:
            shutil.rmtree(work, ignore_errors=True)
        else:
            print(f"scratch folder kept: {work}", file=sys.stderr)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
