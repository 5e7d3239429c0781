"""Case tables of the reliability scenarios and the checks each case makes.

Every case gets a fresh version-1 installation. A case passes only when the
update either converged to version 2 byte for byte or failed with the texts
the product promises and the installation exactly as it was, and nothing
outside the installation and the user's temporary location changed.
"""

import hashlib
import os
import re
import subprocess
import tempfile

import harness
from faultproxy import Rule
from harness import Kill

SCENARIOS = {}


def scenario(fn):
    SCENARIOS[fn.__name__] = fn
    return fn


class Context:
    def __init__(self, work, proxy, display, report, full, only):
        self.work = work
        self.proxy = proxy
        self.display = display
        self.report = report
        self.full = full
        self.only = only
        self.v1 = harness.regular_files(
            harness.digest(os.path.join(work, "pristine", "Voxmere Client.app", "Contents"))
        )
        self.v2 = harness.regular_files(harness.digest(os.path.join(work, "trees", "v2", "client")))

    def wanted(self, name, quick):
        if self.only:
            return any(part in name for part in self.only.split(","))
        return self.full or quick

    def sandbox(self, name):
        return harness.Sandbox(self.work, name)

    def run(self, sandbox, rules=(), **kwargs):
        self.proxy.set_rules(rules)
        try:
            return harness.run_updater(sandbox, self.display, **kwargs)
        finally:
            self.proxy.set_rules([], clear_log=False)

    def converge(self, sandbox, attempts=3):
        """Starts the installed updater again, as the user would, until the
        installation is version 2 and the client was started. Returns (runs
        needed or None, the last run)."""
        last = None
        for n in range(1, attempts + 1):
            if not os.access(sandbox.updater, os.X_OK):
                break  # nothing the user could start: gone, or not executable
            last = self.run(sandbox)
            if last.client_started and sandbox.check_installed(self.v2) is None:
                return n, last
        return None, last


def why(run):
    if run is None:
        return "the installed updater is gone or not executable"
    shown = [b for _, b in run.boxes] + run.details[-4:]
    return "%s; shown: %s" % (run.summary(), " | ".join(shown[-6:]))


# --- 1. Interruption ------------------------------------------------------

# (name, kill point, in the reduced run). Pass 1 is the installed updater
# making the new updater in the temporary directory; pass 2 the new updater
# installing the client. The points follow the log lines of a normal run.
KILL_POINTS = [
    ("p1-version-received", Kill(1, r"^on_updateAvailable"), False),
    ("p1-session-recorded", Kill(1, r"^Update engine initialized"), False),
    ("p1-ini-download", Kill(1, r"^Requesting download of .*update_macosx\.ini\._lzma2_"), False),
    ("p1-sig-download", Kill(1, r"^Requesting download of .*update_macosx\.ini\.sig"), False),
    ("p1-list", Kill(1, r"^Compiling download|^prodIni"), False),
    ("p1-file-download", Kill(1, r"^Requesting download of .*/2/update/", 1, 0.3), False),
    ("p1-self-update", Kill(1, r"^Extracting updater file"), False),
    ("p1-links", Kill(1, r"^Create symlink"), False),
    ("p1-temp-ini", Kill(1, r"^modifyTempIni"), False),
    ("p1-cleanup", Kill(1, r"^Deleted local update\.ini"), False),
    ("p1-finished", Kill(1, r"^onUpdateFinished"), True),
    ("p2-start", Kill(2, r"CLIENTUPDATE"), False),
    ("p2-session", Kill(2, r"^Continuing previous session"), False),
    ("p2-ini-download", Kill(2, r"^Requesting download of .*vxm_client_macosx\.ini\._lzma2_"), False),
    ("p2-sig-download", Kill(2, r"^Requesting download of .*vxm_client_macosx\.ini\.sig"), False),
    ("p2-list", Kill(2, r"^Queueing download:"), False),
    ("p2-file-download", Kill(2, r"^Requesting download of .*/2/client/", 2, 0.3), True),
    ("p2-downloads-done", Kill(2, r"^Download finished:", 3), False),
    ("p2-first-replace", Kill(2, r"^FileReplaceTaskSpecification: spec:"), False),
    ("p2-kept-aside", Kill(2, r"^Kept replaced file", 2), True),
    # Every changed client file of the release is patched or copied whole;
    # the containers of the second pass are its product ini alone.
    ("p2-patching", Kill(2, r"^Details: \"Patching", 2), False),
    ("p2-client-patched", Kill(2, r"^FileTaskSpecification_patch srcFile: .*MacOS/vxmclient_mac_old"),
     False),
    ("p2-updater-moved-aside", Kill(2, r"^Kept replaced file .*/MacOS/update\" as"), False),
    ("p2-executable", Kill(2, r"^Set executable flag on"), False),
    ("p2-replace-late", Kill(2, r"^FileReplaceTaskSpecification: spec:", 6), False),
    ("p2-delete", Kill(2, r"^Details: \"Deleting|^Delete"), False),
    ("p2-temp-removal", Kill(2, r"^Removing temporary files"), False),
    ("p2-link-repair", Kill(2, r"^Creating tools framework symlink:"), False),
    ("p2-finished", Kill(2, r"^onUpdateFinished"), False),
]


def killed_inside_updater_replacement(sandbox):
    """True when the logs show the installed updater moved aside but not yet
    given its executable flag: the window in which a kill leaves no updater
    to start (see interrupt()). A kill aimed elsewhere can land in it when
    the updater is replaced alongside the file the kill point names."""
    installed = re.escape(os.path.join(sandbox.root, "install")) + r'/[^"]*/MacOS/update"'
    moved = re.compile(r'Kept replaced file "' + installed + " as")
    flagged = re.compile(r'Set executable flag on "' + installed)
    log_dir = sandbox.log_dir()
    seen_moved = seen_flagged = False
    for name in sorted(os.listdir(log_dir)) if os.path.isdir(log_dir) else ():
        with open(os.path.join(log_dir, name), errors="replace") as log:
            for line in log:
                seen_moved = seen_moved or moved.search(line) is not None
                seen_flagged = seen_flagged or flagged.search(line) is not None
    return seen_moved and not seen_flagged


@scenario
def interrupt(ctx):
    # The killed run sees a slow line, so that a kill at the start of a
    # transfer lands in the middle of its body.
    slow = [Rule(r".", "slow", -1, 400000)]
    for name, kill, quick in KILL_POINTS:
        if not ctx.wanted(name, quick):
            continue
        sandbox = ctx.sandbox("interrupt-" + name)
        first = ctx.run(sandbox, slow, kill=kill)
        if not first.killed:
            ctx.report.add(name, False, "kill point not reached: " + why(first))
            continue
        if not os.access(sandbox.updater, os.X_OK):
            # The second pass replaces the installed updater in place: killed
            # between moving it aside and writing the new one, or before the
            # new one gets its executable flag, it leaves no updater that the
            # user could start again. The new updater
            # still sits in the temporary directory, and the argument file
            # names its session, but nothing starts it.
            by_design = killed_inside_updater_replacement(sandbox)
            ctx.report.add(
                name,
                by_design,
                "does not converge: the installed updater is gone or not executable"
                + (" (killed while it was replaced)" if by_design else ""),
            )
            continue
        runs, last = ctx.converge(sandbox)
        if runs is None:
            problem = sandbox.check_installed(ctx.v2) or "client not started"
            ctx.report.add(name, False, "did not converge: %s; %s" % (problem, why(last)))
            continue
        outside = sandbox.check_outside()
        ctx.report.add(name, outside is None, outside or "converged after %d run(s)" % runs)


# --- 2. Server faults and 3. tampering ------------------------------------

# What the version-2 release makes the updater download from a version-1
# installation: a "_patch_" file for every changed file that a patch
# shrinks (the updater binary of both passes, the client executable, the
# library and media.bin), the new and changed small files whole, and no
# compressed container at all (the containers beside the patches are only
# fetched for an installed file that no patch applies to, see STALE_LIB).
P1_UPDATER = r"/2/update/SharedSupport/update\.app/Contents/MacOS/update\.1_patch_$"
P2_UPDATER = r"/2/common_client/update\.app/Contents/MacOS/update\.1_patch_$"
MEDIA = r"/2/client/Resources/media\.bin\.1_patch_$"
LIB = r"/2/client/Frameworks/libvoxcore\.dylib\.1_patch_$"
LIB_CONTAINER = r"/2/client/Frameworks/libvoxcore\.dylib\._lzma2_$"
STRINGS = r"/2/client/Resources/strings_08\.txt\._raw_$"
CLIENT_INI = r"/2/vxm_client_macosx\.ini\._lzma2_$"
CLIENT_SIG = r"/2/vxm_client_macosx\.ini\.sig$"
VERSIONS = r"^/vxm-client-2$"
FILES = "/updater-images/client/2/"
QUERY_FAILED = "Failed to query latest client\\nversion from update server."


class Outcome:
    """What a case must end with: "done" (version 2 installed in this very
    run) or "failed" (the box "Update", or another box that ends the pass,
    and the installation exactly as it was). texts: what the details or a
    box must have shown; absent: what they must not have shown; hits: the
    least number of requests the fault must have answered."""

    def __init__(self, kind, texts=(), absent=(), hits=1, second_pass=True):
        self.kind = kind
        self.texts = texts
        self.absent = absent
        self.hits = hits
        self.second_pass = second_pass


def check_outcome(ctx, sandbox, run, outcome, before=None):
    """before: the regular files the installation held before the run, when
    the case changed them (default: version 1)."""
    problems = []
    if outcome.kind == "done":
        if not run.client_started:
            problems.append("did not finish")
        installed = sandbox.check_installed(ctx.v2)
    else:
        if run.client_started:
            problems.append("finished although it had to fail")
        if not run.boxes:
            problems.append("no message box")
        installed = sandbox.check_installed(before or ctx.v1, session_kept=True)
    if installed:
        problems.append(installed)
    for text in outcome.texts:
        if not run.shown(text):
            problems.append("not shown: " + text)
    for text in outcome.absent:
        if run.shown(text):
            problems.append("shown: " + text)
    faults = [h for h in ctx.proxy.hits() if h[1] != "pass"]
    if len(faults) < outcome.hits:
        problems.append("fault answered %d request(s), expected %d" % (len(faults), outcome.hits))
    if not outcome.second_pass and any(p == 2 for p, _ in run.lines):
        problems.append("a second pass ran")
    if run.timed_out:
        problems.append("timed out")
    return problems


def make_stale(sandbox, rel):
    """Changes the installed file REL, as a user's local edit would, so that
    no patch applies to it and the update must fetch its whole container.
    Returns the installation's regular files afterwards."""
    with open(os.path.join(sandbox.install, rel), "ab") as f:
        f.write(b"locally changed\n")
    return harness.regular_files(harness.digest(sandbox.install))


def fault_case(ctx, name, rules, outcome, stale=None):
    sandbox = ctx.sandbox(name)
    before = make_stale(sandbox, stale) if stale else None
    run = ctx.run(sandbox, rules, timeout=240)
    problems = check_outcome(ctx, sandbox, run, outcome, before)
    note = ""
    if outcome.kind == "failed" and not problems:
        # The session stays recorded; a later start without the fault must
        # complete it.
        runs, last = ctx.converge(sandbox, attempts=2)
        if runs is None:
            problems.append("a later run without the fault did not complete: " + why(last))
        else:
            note = "; a later run completed"
    outside = sandbox.check_outside()
    if outside:
        problems.append(outside)
    detail = "; ".join(problems) if problems else (run.summary() + note)
    if problems:
        detail += " [" + why(run) + "]"
    ctx.report.add(name, not problems, detail)


def returned(path, status):
    return "%s returned %d" % (path, status)


MEDIA_NAME = "client/Resources/media.bin.1_patch_"
LIB_NAME = "client/Frameworks/libvoxcore.dylib.1_patch_"
STRINGS_NAME = "client/Resources/strings_08.txt._raw_"

# (name, rules, outcome, in the reduced run)
SERVER_FAULTS = [
    ("404-once", [Rule(STRINGS, "status", 1, 404)], Outcome("done", [returned(STRINGS_NAME, 404)]), False),
    ("404-always", [Rule(MEDIA, "status", -1, 404)],
     Outcome("failed", [returned(MEDIA_NAME, 404), "Unable to download " + MEDIA_NAME], hits=5), True),
    ("500-four-times", [Rule(MEDIA, "status", 4, 500)],
     Outcome("done", [returned(MEDIA_NAME, 500)], hits=4), False),
    ("500-always-ini", [Rule(CLIENT_INI, "status", -1, 500)],
     Outcome("failed", ["Unable to download vxm_client_macosx.ini._lzma2_"], hits=5), False),
    ("302-once", [Rule(LIB, "redirect", 1)], Outcome("done", [returned(LIB_NAME, 302)]), False),
    ("302-always-updater", [Rule(P1_UPDATER, "redirect", -1)],
     Outcome("failed", ["returned 302", "Unable to download update/"], hits=5, second_pass=False), False),
    ("reset-mid-body", [Rule(MEDIA, "reset", 2)], Outcome("done", hits=2), False),
    ("reset-always", [Rule(LIB, "reset", -1)], Outcome("failed", ["Unable to download " + LIB_NAME], hits=5), False),
    ("cut-short", [Rule(MEDIA, "cut", 1)], Outcome("done"), False),
    ("length-too-long", [Rule(LIB, "length_long", 1)], Outcome("done"), False),
    ("length-too-short", [Rule(STRINGS, "length_short", -1)],
     Outcome("failed", ["Signature check failed for"]), False),
    ("stall", [Rule(MEDIA, "stall", 1, 25)], Outcome("done", ["file %s timed out" % MEDIA_NAME]), True),
    ("trickle-1-byte-per-second", [Rule(STRINGS, "trickle", 1, 20)],
     Outcome("done", absent=["timed out"]), False),
    ("version-answer-500", [Rule(VERSIONS, "status", -1, 500)], Outcome("failed", [QUERY_FAILED]), True),
    ("version-answer-404", [Rule(VERSIONS, "status", -1, 404)], Outcome("failed", [QUERY_FAILED]), False),
]


@scenario
def faults(ctx):
    for name, rules, outcome, quick in SERVER_FAULTS:
        if ctx.wanted(name, quick):
            fault_case(ctx, name, rules, outcome)


STALE_LIB = os.path.join("Frameworks", "libvoxcore.dylib")
NOT_VERIFIED = "Could not verify the product ini file. Aborting"

# The man in the middle never stops: every matching request is altered.
TAMPERING = [
    ("plain-file-flip", [Rule(STRINGS, "flip")], Outcome("failed", ["Signature check failed for"]), False),
    ("plain-file-truncate", [Rule(STRINGS, "truncate")], Outcome("failed", ["Signature check failed for"]), False),
    ("plain-file-swap", [Rule(STRINGS, "swap", -1, FILES + "client/Resources/strings_16.txt._raw_")],
     Outcome("failed", ["Signature check failed for"]), False),
    # A locally changed library matches no patch: its whole container is
    # fetched and unpacked, and an altered container must not be installed.
    ("container-flip", [Rule(LIB_CONTAINER, "flip")], Outcome("failed", ["Signature check failed for"]), False,
     STALE_LIB),
    ("container-truncate", [Rule(LIB_CONTAINER, "truncate")], Outcome("failed", ["Signature check failed for"]),
     False, STALE_LIB),
    ("container-swap", [Rule(LIB_CONTAINER, "swap", -1, FILES + "client/MacOS/vxmclient_mac._lzma2_")],
     Outcome("failed", ["Signature check failed for"]), False, STALE_LIB),
    # An altered patch must be refused before it is applied to the installed
    # file; a patch that applied to the wrong file would install garbage.
    ("patch-file-flip", [Rule(LIB, "flip")], Outcome("failed", ["Signature check failed for"]), True),
    ("patch-file-truncate", [Rule(LIB, "truncate")], Outcome("failed", ["Signature check failed for"]), False),
    ("patch-file-swap", [Rule(LIB, "swap", -1, FILES + "client/MacOS/vxmclient_mac.1_patch_")],
     Outcome("failed", ["Signature check failed for"]), False),
    ("updater-patch-swap", [Rule(P1_UPDATER, "swap", -1, FILES + "client/MacOS/vxmclient_mac.1_patch_")],
     Outcome("failed", ["Signature check failed for"], second_pass=False), True),
    ("updater-patch-flip", [Rule(P1_UPDATER, "flip")], Outcome("failed", second_pass=False), False),
    ("product-ini-flip", [Rule(CLIENT_INI, "flip")], Outcome("failed"), False),
    ("product-ini-truncate", [Rule(CLIENT_INI, "truncate")], Outcome("failed"), False),
    ("product-ini-swap", [Rule(CLIENT_INI, "swap", -1, FILES + "update_macosx.ini._lzma2_")],
     Outcome("failed", ["Signature check failed for", NOT_VERIFIED]), False),
    ("signature-flip", [Rule(CLIENT_SIG, "flip")], Outcome("failed", ["Signature check failed for", NOT_VERIFIED]), True),
    ("signature-truncate", [Rule(CLIENT_SIG, "truncate")], Outcome("failed", [NOT_VERIFIED]), False),
    ("signature-swap", [Rule(CLIENT_SIG, "swap", -1, FILES + "update_macosx.ini.sig")],
     Outcome("failed", [NOT_VERIFIED]), False),
    ("version-answer-flip", [Rule(VERSIONS, "flip")], Outcome("failed", second_pass=False), False),
    ("version-answer-truncate", [Rule(VERSIONS, "truncate")], Outcome("failed", second_pass=False), False),
    ("version-answer-swap", [Rule(VERSIONS, "swap", -1, FILES + "update_macosx.ini.sig")],
     Outcome("failed", second_pass=False), False),
]


@scenario
def tamper(ctx):
    for name, rules, outcome, quick, *stale in TAMPERING:
        if ctx.wanted(name, quick):
            fault_case(ctx, name, rules, outcome, *stale)


# --- 4. Full disk and read-only installations -----------------------------


class Mounts:
    """Size-limited tmpfs and read-only bind mounts (the test runs as root
    here; without the right to mount the cases are reported as not run)."""

    def __init__(self):
        self.points = []

    @staticmethod
    def available():
        probe = tempfile.mkdtemp()
        try:
            ok = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", probe],
                                capture_output=True).returncode == 0
            if ok:
                subprocess.run(["umount", probe], check=True)
            return ok
        finally:
            os.rmdir(probe)

    def tmpfs(self, path, size, inodes=None):
        options = "size=%s,mode=700" % size + (",nr_inodes=%d" % inodes if inodes else "")
        subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", path], check=True)
        self.points.append(path)

    def resize(self, path, size):
        subprocess.run(["mount", "-o", "remount,size=%s,nr_inodes=0" % size, path], check=True)

    def read_only(self, path):
        subprocess.run(["mount", "--bind", path, path], check=True)
        self.points.append(path)
        subprocess.run(["mount", "-o", "remount,ro,bind", path], check=True)

    def writable(self, path):
        subprocess.run(["mount", "-o", "remount,rw,bind", path], check=True)

    def release(self):
        while self.points:
            subprocess.run(["umount", self.points.pop()], capture_output=True)


def space_case(ctx, name, prepare, outcome, after):
    """prepare(mounts, sandbox) limits the sandbox; the run must fail as
    outcome says with nothing half-installed; after(mounts, sandbox) gives
    the space or the right back, and a later run must complete."""
    mounts = Mounts()
    try:
        sandbox = ctx.sandbox(name)
        prepare(mounts, sandbox)
        run = ctx.run(sandbox, timeout=240)
        problems = check_outcome(ctx, sandbox, run, outcome)
        after(mounts, sandbox)
        if not problems:
            runs, last = ctx.converge(sandbox, attempts=2)
            if runs is None:
                problems.append("the run with space did not complete: " + why(last))
        detail = "; ".join(problems) + " [" + why(run) + "]" if problems else run.summary() + "; a later run completed"
        ctx.report.add(name, not problems, detail)
    finally:
        mounts.release()


def small_temp(size, inodes=None):
    def prepare(mounts, sandbox):
        mounts.tmpfs(sandbox.tmp, size, inodes)
        sandbox.mark_log()

    def after(mounts, sandbox):
        mounts.resize(sandbox.tmp, "256m")

    return prepare, after


def read_only(rel):
    def prepare(mounts, sandbox):
        mounts.read_only(os.path.join(sandbox.install, rel))

    def after(mounts, sandbox):
        mounts.writable(os.path.join(sandbox.install, rel))

    return prepare, after


INI_NOT_WRITTEN = "Failed to write update.ini. The updater does not seem to have the required write permissions."

# (name, (prepare, after), outcome, in the reduced run). The first pass
# needs about 1.5 MB of temporary space at its peak (the patched updater
# beside its old copy) and leaves about 0.8 MB; the second pass then
# downloads some 50 small files and patches (a few kB, but a file each) and
# keeps the replaced files (2.7 MB, media.bin alone 2 MB) aside there. Since
# the downloads need less room than the first pass did, the temporary
# location runs full during them only by its number of files.
SPACE = [
    ("temp-full-during-downloads", small_temp("256m", 40), Outcome("failed", ["Unable to create file", "for saving"], hits=0), True),
    ("temp-full-while-installing", small_temp("2m"), Outcome("failed", ["Could not move"], hits=0), False),
    ("installation-read-only", read_only(""), Outcome("failed", [INI_NOT_WRITTEN], hits=0), True),
    ("resources-read-only", read_only("Resources"), Outcome("failed", ["rolling back file updates"], hits=0), False),
]


@scenario
def disk(ctx):
    if not Mounts.available():
        ctx.report.skip("cannot mount a tmpfs or a bind mount here (needs root)")
        return
    for name, (prepare, after), outcome, quick in SPACE:
        if ctx.wanted(name, quick):
            space_case(ctx, name, prepare, outcome, after)


# --- 5. Hostile inputs ----------------------------------------------------

HOSTILE_ROOT = "hostile"  # below the server root; an alpha channel points there


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def signed_product_ini(ctx, case, text):
    """Publishes TEXT as the updater pass's product ini of version 2 below
    www/hostile/CASE/, compressed and signed with the demo key, so that it
    passes the signature check and reaches the parser."""
    folder = os.path.join(ctx.work, "hostile-www", case, "2")
    ini = os.path.join(folder, "update_macosx.ini")
    write(ini, text)
    key = os.path.join(os.path.dirname(__file__), "..", "..", "..", "keys", "demo_private.der")
    bin_dir = os.path.join(ctx.build, "bin")
    subprocess.run([os.path.join(bin_dir, "vxm-release"), "sign", ini, key], check=True, capture_output=True)
    subprocess.run([os.path.join(bin_dir, "vxdelta"), "compress", ini, ini + "._lzma2_"], check=True,
                   capture_output=True)
    os.remove(ini)
    return "http://127.0.0.1:%d/%s/%s/" % (8771, HOSTILE_ROOT, case)


def alpha_channel(url, revision="2"):
    return "[Channel]\nalpha=%s\nalphaRevno=%s\n" % (url, revision)


class Hostile:
    """One hostile input. config: text of the user's update.ini (in
    VXM_CONFIG_DIR); session: text of update.ini next to update.app; args:
    the command line; argsfile: bytes of the argument file; ini: text of a
    signed product ini for the updater pass. May the update go on to
    version 2 (harmless input) or must it be refused? boxed: the refusal
    ends in a message box (a skipped line of a product ini does not)."""

    def __init__(self, name, quick=False, refused=True, texts=(), config=None, session=None, args=(),
                 argsfile=None, ini=None, plant=None, boxed=True):
        self.name = name
        self.boxed = boxed
        self.quick = quick
        self.refused = refused
        self.texts = texts
        self.config = config
        self.session = session
        self.args = args
        self.argsfile = argsfile
        self.ini = ini
        self.plant = plant


def hostile_case(ctx, case):
    sandbox = ctx.sandbox("hostile-" + case.name)
    config = case.config
    if case.ini is not None:
        config = alpha_channel(signed_product_ini(ctx, case.name, case.ini))
    if config is not None:
        write(os.path.join(sandbox.root, "config", "update.ini"), config)
    if case.session is not None:
        write(os.path.join(sandbox.install, harness.SESSION_FILE), case.session(sandbox))
    if case.argsfile is not None:
        write(os.path.join(sandbox.tmp, "vxmclientupdateargs"), case.argsfile)
    if case.plant:
        case.plant(sandbox)
    sandbox.outside_before = sandbox.outside()
    before = harness.digest(sandbox.install)
    run = ctx.run(sandbox, timeout=120, args=case.args)
    problems = []
    if run.crashed:
        problems.append("crashed (status %s) %s" % (run.returncode, run.stderr.strip()[-200:]))
    if run.timed_out:
        problems.append("timed out")
    after = harness.digest(sandbox.install)
    if case.refused:
        after.pop(harness.SESSION_FILE, None)
        before.pop(harness.SESSION_FILE, None)
        if after != before:
            problems.append("installation changed: " + harness.describe_difference(before, after))
        if case.boxed and not run.boxes:
            problems.append("no message box")
    elif not run.client_started or sandbox.check_installed(ctx.v2):
        problems.append("a harmless input stopped the update")
    for text in case.texts:
        if not run.shown(text):
            problems.append("not shown: " + text)
    outside = sandbox.check_outside()
    if outside:
        problems.append(outside)
    escaped = escaped_files(ctx)
    if escaped:
        problems.append("wrote outside the session: " + ", ".join(escaped))
        for path in escaped:
            os.remove(path)
    detail = "; ".join(problems) + " [" + why(run) + "]" if problems else why(run)
    ctx.report.add(case.name, not problems, detail)


def session_pointing_at(where):
    def text(sandbox):
        target = where(sandbox)
        return "[current]\nversion=1\ndir=%s\nvxmdir=%s/\ntype=update_macosx\n" % (target, sandbox.install)

    return text


def plant_files(sandbox):
    for d in ("home", "config"):
        write(os.path.join(sandbox.root, d, "precious.txt"), "must stay\n")


NO_FILES = "No files in product ini"
INVALID_LINE = "Warning: product ini contains invalid line in section %s"
PAYLOAD = b"owned\n"  # what the hostile server sends for any file it lists
HASH = hashlib.sha512(PAYLOAD).hexdigest()
SIZE = len(PAYLOAD)

HOSTILE = [
    Hostile("args-version-not-a-number", True, texts=["Invalid version nr (abc)"], args=["client_macosx", "abc"]),
    Hostile("args-version-overflow", texts=["Invalid version nr (" + "9" * 30 + ")"],
            args=["--nouser", "update_macosx", "9" * 30, "1.0"]),
    Hostile("args-version-unicode", texts=["Invalid version nr"], args=["client_macosx", "\u0662\u4e2d"]),
    Hostile("args-one-huge-word", refused=False, args=["x" * 100000]),
    Hostile("argsfile-binary", refused=False, argsfile=bytes(range(1, 256)) * 64 + b"\0tail"),
    Hostile("argsfile-bad-version", True, texts=["Invalid version nr (NaN)"],
            argsfile=b"--clientupdate\nclient_macosx\nNaN\n#\n"),
    Hostile("argsfile-blank-lines", refused=False, argsfile=b"\n\n\r\n\n"),
    Hostile("config-binary-garbage", refused=False, config=bytes(range(256)) * 40),
    Hostile("config-alpha-bad-revision", config=alpha_channel("http://127.0.0.1:8771/nowhere", "abc")),
    Hostile("session-dir-is-home", True, refused=False, plant=plant_files,
            session=session_pointing_at(lambda sb: os.path.join(sb.root, "home"))),
    Hostile("session-dir-is-installation", refused=False,
            session=session_pointing_at(lambda sb: sb.install)),
    Hostile("session-garbage", refused=False, session=lambda sb: "[current]\nversion=\x01\x02\ndir=\n\xff\xfe"),
    Hostile("update-streams-huge", refused=False, session=lambda sb: "[update]\nstreams=2147483647\n"),
    Hostile("update-invalid-proxy", texts=["is an invalid proxy specification"],
            session=lambda sb: "[update]\nproxy=http://[::1\n"),
    Hostile("ini-empty", True, texts=[NO_FILES], ini=""),
    Hostile("ini-binary", texts=[NO_FILES], ini=bytes(range(256)).decode("latin-1") * 8),
    Hostile("ini-invalid-patch-line", texts=[INVALID_LINE % "update"], ini="[update]\nx_patch_=a::1::b::2\n"),
    Hostile("ini-path-escapes", True, texts=[INVALID_LINE % "update"], boxed=False, ini="[update]\n..\\..\\..\\..\\..\\escape.txt=%s::%d\n" % (HASH, SIZE)),
    Hostile("ini-absolute-path", texts=[INVALID_LINE % "update"], boxed=False, ini="[update]\n%2Ftmp%2Fvxm_escape.txt=" + HASH + "::%d\n" % SIZE),
    Hostile("ini-huge-size", ini="[update]\nbig.bin=%s::99999999999999999999999\n" % HASH),
]


def escaped_files(ctx):
    """Files that a hostile product ini tried to plant outside the session."""
    found = [p for p in ("/tmp/vxm_escape.txt",) if os.path.exists(p)]
    for top, _dirs, files in os.walk(ctx.work):
        found += [os.path.join(top, f) for f in files if f in ("escape.txt", "vxm_escape.txt")]
    return found


@scenario
def hostile(ctx):
    ctx.proxy.serve_local("/" + HOSTILE_ROOT + "/", os.path.join(ctx.work, "hostile-www"), PAYLOAD)
    for case in HOSTILE:
        if ctx.wanted(case.name, case.quick):
            hostile_case(ctx, case)
