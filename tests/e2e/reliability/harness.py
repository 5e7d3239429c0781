"""Runs the real updater in private sandboxes and observes it as a user and
an administrator would: through its windows (answered on a private Xvfb
display with xdotool, as a person presses Return), its log file, the
processes it starts and the files it leaves.

A sandbox is one version-1 installation with its own TMPDIR, HOME and
VXM_CONFIG_DIR. run_updater() starts the installed updater once, optionally
kills a pass with SIGKILL when its log reaches a given line, answers every
message box, quits a window left idle after a failure, and returns what the
run showed. The checks compare whole trees byte for byte.
"""

import hashlib
import os
import re
import shutil
import signal
import subprocess
import time

APP = os.path.join("install", "Voxmere Client.app", "Contents")
UPDATER = os.path.join("SharedSupport", "update.app", "Contents", "MacOS", "update")
SESSION_FILE = os.path.join("SharedSupport", "update.ini")
BOX_TITLES = ("Error", "Update", "Confirm reboot", "Question")
BOX_LINE = re.compile(r'Message box "([^"]*)" "(.*)"$')
DETAIL_LINE = re.compile(r'Details: "(.*)"$')
LINE = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3}\t\|\t(\w+)\t\|\t(.*)$")


def _record_line(run, pass_, msg):
    """Keeps one log line of a run, with the details and box it names;
    returns the box match, if the line reports a message box."""
    run.lines.append((pass_, msg))
    detail = DETAIL_LINE.search(msg)
    if detail:
        run.details.append(detail.group(1))
    box = BOX_LINE.search(msg)
    if box:
        run.boxes.append(box.groups())
    return box


def digest(root, skip=()):
    """{relative path: sha256} of every regular file below root; symbolic
    links map to their target text."""
    result = {}
    if not os.path.isdir(root):
        return result
    for top, dirs, files in os.walk(root):
        dirs[:] = [d for d in dirs if os.path.join(top, d) not in skip]
        for name in files + [d for d in dirs if os.path.islink(os.path.join(top, d))]:
            path = os.path.join(top, name)
            rel = os.path.relpath(path, root)
            if os.path.islink(path):
                result[rel] = "link:" + os.readlink(path)
            elif os.path.isfile(path):
                with open(path, "rb") as f:
                    result[rel] = hashlib.sha256(f.read()).hexdigest()
    return result


def regular_files(tree):
    return {k: v for k, v in tree.items() if not v.startswith("link:")}


def describe_difference(expected, actual, limit=6):
    lines = []
    for rel in sorted(set(expected) | set(actual)):
        if rel not in actual:
            lines.append("missing " + rel)
        elif rel not in expected:
            lines.append("extra " + rel)
        elif expected[rel] != actual[rel]:
            lines.append("differs " + rel)
    more = len(lines) - limit
    return "; ".join(lines[:limit]) + (" (+%d more)" % more if more > 0 else "")


class Display:
    """A private Xvfb display; message boxes appear there. It must not reset
    when its last client leaves: the first pass's window closes just before
    the second pass connects."""

    def __init__(self):
        read, write = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-noreset", "-screen", "0", "800x600x24"],
            pass_fds=(write,),
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        os.close(write)
        with os.fdopen(read) as f:
            self.name = ":" + f.readline().strip()

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)

    def windows(self, title_pattern):
        out = subprocess.run(
            ["xdotool", "search", "--onlyvisible", "--name", title_pattern],
            env=dict(os.environ, DISPLAY=self.name),
            capture_output=True,
            text=True,
        ).stdout
        return [w for w in out.split() if w]

    def press_return(self, window):
        subprocess.run(
            ["xdotool", "windowfocus", "--sync", window, "key", "Return"],
            env=dict(os.environ, DISPLAY=self.name),
            capture_output=True,
            timeout=20,
        )


class Sandbox:
    """One user with a version-1 installation."""

    def __init__(self, work, name, pristine=None):
        self.work = work
        self.root = os.path.join(work, "cases", name)
        shutil.rmtree(self.root, ignore_errors=True)
        os.makedirs(self.root)
        shutil.copytree(pristine or os.path.join(work, "pristine"), os.path.join(self.root, "install"), symlinks=True)
        for d in ("tmp", "home", "config"):
            os.makedirs(os.path.join(self.root, d), mode=0o700)
        self.tmp = os.path.join(self.root, "tmp")
        self.install = os.path.join(self.root, APP)
        self.mark_log()
        self.started_log = os.path.join(self.tmp, "vxmclient_started.log")
        self.outside_before = self.outside()

    def mark_log(self):
        """The marker that makes both passes write their log files."""
        open(os.path.join(self.tmp, "vxm_update_log"), "w").close()

    @property
    def updater(self):
        return os.path.join(self.install, UPDATER)

    def env(self, display):
        env = {k: v for k, v in os.environ.items() if not k.startswith(("QT_", "VXM_"))}
        env.update(
            TMPDIR=self.tmp,
            HOME=os.path.join(self.root, "home"),
            VXM_CONFIG_DIR=os.path.join(self.root, "config") + "/",
            XDG_RUNTIME_DIR=self.tmp,
            DISPLAY=display.name,
            QT_QPA_PLATFORM="xcb",
        )
        return env

    def outside(self):
        """Everything of the sandbox and the work tree that an update must
        not touch: home, configuration, the other trees."""
        skip = {os.path.join(self.root, "install"), self.tmp, os.path.join(self.work, "cases")}
        mine = digest(self.root, skip)
        mine.pop("stderr.log", None)  # the harness's own record of the passes' output
        return {"sandbox": mine, "trees": digest(os.path.join(self.work, "trees"))}

    def clients_started(self):
        if not os.path.exists(self.started_log):
            return 0
        with open(self.started_log) as f:
            return sum(1 for _ in f)

    def processes(self):
        """Pids of the processes that run from this sandbox (updater passes,
        their starter script, the client)."""
        pids = []
        me = os.getpid()
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == me:
                continue
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    cmdline = f.read().decode(errors="replace")
            except OSError:
                continue
            try:
                exe = os.readlink("/proc/%s/exe" % entry)
            except OSError:
                exe = ""
            if self.root in cmdline or exe.startswith(self.root):
                pids.append(int(entry))
        return pids

    def pid_writing(self, log_path):
        for pid in self.processes():
            try:
                fds = os.listdir("/proc/%d/fd" % pid)
                for fd in fds:
                    if os.readlink("/proc/%d/fd/%s" % (pid, fd)) == log_path:
                        return pid
            except OSError:
                continue
        return None

    def log_dir(self):
        return os.path.join(self.tmp, "voxmere_update_log")

    def check_installed(self, expected, session_kept=False):
        """None when the installation holds exactly the expected regular
        files and no "_old" leftovers, else what is wrong. session_kept: a
        failed pass keeps its session record (update.ini next to update.app)
        so that the next start continues it; that file is then allowed."""
        actual = digest(self.install)
        if session_kept:
            actual.pop(SESSION_FILE, None)
        problems = []
        old = sorted(k for k in actual if "_old" in os.path.basename(k))
        if old:
            problems.append("leftover " + ", ".join(old))
        if regular_files(actual) != expected:
            problems.append(describe_difference(expected, regular_files(actual)))
        return "; ".join(problems) or None

    def check_outside(self):
        now = self.outside()
        changed = [
            describe_difference(self.outside_before[k], now[k]) for k in now if now[k] != self.outside_before[k]
        ]
        return "changed outside the installation and TMPDIR: " + "; ".join(changed) if changed else None


class Kill:
    """SIGKILL the given pass when its log reaches the nth line matching
    pattern."""

    def __init__(self, pass_, pattern, nth=1, delay=0.0):
        self.pass_ = pass_
        self.pattern = re.compile(pattern)
        self.nth = nth
        self.delay = delay
        self.seen = 0
        self.due = None  # (time, log path) once the line was reached

    def __str__(self):
        after = " +%.1fs" % self.delay if self.delay else ""
        return "pass %d at %r #%d%s" % (self.pass_, self.pattern.pattern, self.nth, after)


class LogFollower:
    """Reads the lines that the passes append to their log files."""

    def __init__(self, sandbox):
        self.sandbox = sandbox
        self.offsets = {}
        self.partial = {}
        self.passes = {}
        self.known = set(self._files())

    def _files(self):
        d = self.sandbox.log_dir()
        return [os.path.join(d, n) for n in sorted(os.listdir(d))] if os.path.isdir(d) else []

    def lines(self):
        """New (file, pass or None, level, text) tuples."""
        out = []
        for path in self._files():
            if path in self.known and path not in self.offsets:
                self.offsets[path] = os.path.getsize(path)
            try:
                with open(path, "rb") as f:
                    f.seek(self.offsets.get(path, 0))
                    data = f.read()
            except OSError:
                continue
            self.offsets[path] = self.offsets.get(path, 0) + len(data)
            text = self.partial.pop(path, b"") + data
            *complete, rest = text.split(b"\n")
            if rest:
                self.partial[path] = rest
            for raw in complete:
                line = raw.decode(errors="replace")
                m = LINE.match(line)
                if not m:
                    continue
                level, msg = m.groups()
                if "CLIENTUPDATE" in msg or "Empty cmdline params" in msg:
                    self.passes.setdefault(path, 2 if "CLIENTUPDATE true" in msg else 1)
                out.append((path, self.passes.get(path), level, msg))
        return out


class Run:
    def __init__(self):
        self.boxes = []  # (title, text) in the order shown
        self.details = []
        self.lines = []
        self.killed = None
        self.client_started = False
        self.timed_out = False
        self.quit_idle = 0
        self.returncode = None
        self.stderr = ""

    @property
    def crashed(self):
        """A pass ended by a signal other than the harness's own."""
        died = self.returncode is not None and self.returncode < 0 and self.returncode != -signal.SIGTERM
        return (died and not self.killed) or any(
            t in self.stderr for t in ("Segmentation fault", "Aborted", "core dumped", "Sanitizer")
        )

    @property
    def failed(self):
        return any(t == "Update" for t, _ in self.boxes)

    def shown(self, text):
        return any(text in d for d in self.details) or any(text in b for _, b in self.boxes)

    def summary(self):
        if self.killed:
            return "killed (%s)" % self.killed
        if self.timed_out:
            return "timed out"
        if self.client_started:
            return "finished"
        if self.boxes:
            return "ended with boxes " + ", ".join(t for t, _ in self.boxes)
        return "ended without starting the client"


def run_updater(sandbox, display, kill=None, timeout=150, program=None, args=()):
    """Starts the installed updater (or program) once and follows it and
    every pass it starts until none runs any more."""
    run = Run()
    follower = LogFollower(sandbox)
    clients_before = sandbox.clients_started()
    stderr_path = os.path.join(sandbox.root, "stderr.log")
    stderr_start = os.path.getsize(stderr_path) if os.path.exists(stderr_path) else 0
    stderr = open(stderr_path, "ab")
    proc = subprocess.Popen(
        [program or sandbox.updater, *args],
        env=sandbox.env(display),
        cwd=sandbox.root,
        stdout=stderr,
        stderr=stderr,
    )
    deadline = time.monotonic() + timeout
    next_scan = 0.0
    box_shown = {}
    last_line = {}
    quiet_since = None
    try:
        while True:
            for path, pass_, _level, msg in follower.lines():
                box = _record_line(run, pass_, msg)
                if box:
                    box_shown[path] = box.group(1)
                last_line[path] = time.monotonic()
                if kill and not kill.due and pass_ == kill.pass_ and kill.pattern.search(msg):
                    kill.seen += 1
                    if kill.seen == kill.nth:
                        kill.due = (time.monotonic() + kill.delay, path)
            now = time.monotonic()
            if kill and kill.due and not run.killed and now >= kill.due[0]:
                pid = sandbox.pid_writing(kill.due[1])
                if pid:
                    os.kill(pid, signal.SIGKILL)
                    run.killed = str(kill)
                else:
                    run.killed = None
                    kill.due = (float("inf"), kill.due[1])
            if now >= next_scan:
                next_scan = now + 0.1
                for window in display.windows("^(%s)$" % "|".join(BOX_TITLES)):
                    display.press_return(window)
                for path, title in list(box_shown.items()):
                    # After the box "Update" (or an "Error" box that the
                    # pass does not go on from) the window shows the details
                    # with no session active and the user quits it. Without
                    # a window manager there is no close button to click, so
                    # the quit is a SIGTERM.
                    wait = 1.0 if title == "Update" else 5.0
                    if now - last_line[path] >= wait:
                        pid = sandbox.pid_writing(path)
                        if pid:
                            os.kill(pid, signal.SIGTERM)
                            run.quit_idle += 1
                        del box_shown[path]
                alive = sandbox.processes()
                if not alive and proc.poll() is not None:
                    quiet_since = quiet_since or now
                    if now - quiet_since > 0.5:
                        break
                else:
                    quiet_since = None
                if now > deadline:
                    run.timed_out = True
                    for pid in alive:
                        try:
                            os.kill(pid, signal.SIGKILL)
                        except OSError:
                            pass
                    break
            time.sleep(0.002)
    finally:
        if proc.poll() is None:
            proc.kill()
        proc.wait()
        stderr.close()
    for _path, pass_, _level, msg in follower.lines():
        _record_line(run, pass_, msg)
    run.client_started = sandbox.clients_started() > clients_before
    run.returncode = proc.returncode
    with open(stderr_path, "rb") as f:
        f.seek(stderr_start)
        run.stderr = f.read().decode(errors="replace")
    return run


class Report:
    """Collects case results and prints the table and the closing line."""

    def __init__(self, scenario):
        self.scenario = scenario
        self.rows = []
        self.skipped = None

    def add(self, case, ok, detail):
        self.rows.append((case, ok, detail))
        print("%-4s %-44s %s" % ("ok" if ok else "FAIL", case, detail), flush=True)

    def skip(self, reason):
        self.skipped = reason

    def finish(self):
        """The exit status: 0 all passed, 1 a failure, 77 the scenario could
        not run here (ctest reports it as skipped)."""
        if self.skipped and not self.rows:
            print("%s: skipped, %s" % (self.scenario, self.skipped))
            return 77
        passed = sum(1 for _, ok, _ in self.rows if ok)
        failed = len(self.rows) - passed
        print("%s: %d cases run" % (self.scenario, len(self.rows)))
        print("%s: %d passed, %d failed" % (self.scenario, passed, failed))
        return 0 if failed == 0 and self.rows else 1
