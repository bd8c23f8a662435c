#!/usr/bin/python3
"""Runs the 64-bit Windows build under wine64 and checks what a user would see.

    /usr/bin/python3 tests/windows/wine_e2e.py [build/win64]

Everything happens in a fresh wine prefix under <build>/wine-test, made by
this script with wineboot. Six runs:

1. First run, without a display: exit code 0; the ten payload files in the
   staging folder under the folder that GetTempPathA reports, byte for byte;
   Setup.exe identical to the demo setup program; the setup program started
   in the staging folder (its Setup.log appears there, naming that folder).
2. Second run, on a virtual display (Xvfb), with the Windows calls traced
   (WINEDEBUG=+relay, narrowed by RelayInclude): the payload files and
   Setup.exe are replaced, a foreign file stays; the trace shows the
   arguments of GetTempPathA, CreateFileA and ShellExecuteA and the hidden
   application window, created without WS_VISIBLE, captioned with the
   title, never shown, destroyed at the end.
3. A Setup.exe that cannot be replaced because it is still running from an
   earlier run (tests/hold_running.exe keeps it started but suspended): the
   expansion cannot create its output, the run still writes the ten files,
   starts the Setup.exe that stands there, unchanged, and ends with 0.
   The old Setup.exe is the demo setup program with a few bytes appended
   (loaders ignore them), so it differs from a freshly expanded one.
4. A copy of the bootstrapper whose Setup.ex_ resource is not a compressed
   file (its signature patched): the expansion creates Setup.exe, fails and
   deletes it, taking a stale Setup.exe with it; the launch finds nothing,
   no message is shown and the run ends with 0.
5. A failure without a display: a regular file stands where the staging
   folder should be. The trace shows MessageBoxA with the report's text,
   title and flags; the exit code is 1 and nothing is started. Without a
   display wine cannot make the box's window, so MessageBoxA returns at
   once: the run cannot hang, and the relay trace is the witness.
4. The same failure on the virtual display: the box really stands, and
   tests/box_closer.exe (built with the win64 preset) reads its title and
   text, finds the application's hidden window disabled behind the
   task-modal box and presses OK; only then does the run end, with 1.

A read-only Setup.exe would not do for run 3: wine turns the read-only
attribute into missing write permissions, which root does not heed, so
CREATE_ALWAYS replaces the file anyway when the tests run as root.

Needs wine and wine64, pefile (package python3-pefile), and Xvfb (package
xvfb) for runs 2 and 6.
"""
import filecmp
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import time

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from checks import Checks  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
PAYLOAD_FILES = [
    "Merlavox.ex_", "Merlavox.ch_", "Liesmich.txt", "TrickTip.tx_", "Vertrag.txt",
    "eztw32.DL_", "Beispiel.dbmvx", "gdiplus.dl_", "Setup.ex_", "Setup.lst",
]
STAGING = "Inst-Setup_Merlavox"
TITLE = "Anwendungsfehler"

# Only these calls are traced, so the trace stays small.
RELAY = ";".join([
    "kernel32.GetTempPathA", "kernelbase.GetTempPathA",
    "kernel32.CreateFileA", "kernelbase.CreateFileA",
    "kernel32.DeleteFileA", "kernelbase.DeleteFileA",
    "user32.CreateWindowExA", "user32.SetWindowTextA", "user32.ShowWindow",
    "user32.DestroyWindow", "user32.MessageBoxA", "user32.MessageBoxW",
    "shell32.ShellExecuteA",
])

GENERIC_READ, GENERIC_WRITE = 0x80000000, 0x40000000
CREATE_ALWAYS, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL = 2, 3, 0x80
WS_VISIBLE = 0x10000000
INVALID_HANDLE_VALUE = 0xFFFFFFFFFFFFFFFF
# Appended to the demo setup program to tell an old Setup.exe from one that
# the expansion writes.
OLD_SETUP_TAG = b"\0earlier run's Setup.exe\0"


class Wine:
    def __init__(self, prefix):
        self.prefix = prefix
        self.wine = shutil.which("wine64") or shutil.which("wine")
        self.wineserver = shutil.which("wineserver") or "/usr/lib/wine/wineserver64"

    def env(self, display=None, debug="-all"):
        env = dict(os.environ)
        for var in ("DISPLAY", "WAYLAND_DISPLAY"):
            env.pop(var, None)
        if display:
            env["DISPLAY"] = display
        env.update(WINEPREFIX=self.prefix, WINEARCH="win64", WINEDEBUG=debug,
                   # No prompts to install Mono or Gecko into the new prefix.
                   WINEDLLOVERRIDES="mscoree,mshtml=")
        return env

    def run(self, args, timeout, **kw):
        env = kw.pop("env", None) or self.env()
        return subprocess.run([self.wine] + args, env=env, timeout=timeout,
                              stdin=subprocess.DEVNULL, capture_output=True, **kw)

    def traced(self, args, trace_file, display=None):
        """Runs with every Windows call relayed to stderr; the result, the
        trace as text, and the trace kept in trace_file for a look later."""
        result = self.run(args, timeout=120, env=self.env(display, "+relay"))
        trace = result.stderr.decode("latin-1")
        with open(trace_file, "w", encoding="latin-1") as f:
            f.write(trace)
        return result, trace

    def settle(self):
        """Waits until every process of the prefix (the started setup
        program too) has ended and the wine server with them."""
        try:
            subprocess.run([self.wineserver, "-w"], env=self.env(), timeout=90)
        except subprocess.TimeoutExpired:
            subprocess.run([self.wineserver, "-k"], env=self.env(), timeout=30)

    def text(self, args, timeout=60):
        out = self.run(args, timeout).stdout.decode("latin-1")
        return out.strip()


class VirtualDisplay:
    """An Xvfb server of our own, on a display number it picks itself."""

    def __init__(self):
        self.process = None
        self.name = None

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0",
             "1024x768x24"], pass_fds=[write_end], stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            number = f.readline().strip()
        self.name = f":{number}" if number else None
        return self

    def __exit__(self, *exc):
        if self.process:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()


def calls(trace, function):
    """The argument texts of every traced call of the function, in order."""
    return [m.group(2) for m in re.finditer(
        r"^([0-9a-f]+):Call (?:\w+)\.%s\((.*)\) ret=[0-9a-f]+$" % function, trace, re.M)]


def relay_string(arg):
    """The text of a relay argument such as 140029541 "open"; None for a null pointer."""
    m = re.fullmatch(r'[0-9a-f]+ "(.*)"', arg.strip())
    if not m:
        return None
    return m.group(1).encode("latin-1").decode("unicode_escape")


def split_args(text):
    """Splits a relay argument list at the commas outside quoted strings."""
    args, current, quoted, escaped = [], "", False, False
    for ch in text:
        if escaped:
            current += ch
            escaped = False
        elif ch == "\\" and quoted:
            current += ch
            escaped = True
        elif ch == '"':
            current += ch
            quoted = not quoted
        elif ch == "," and not quoted:
            args.append(current)
            current = ""
        else:
            current += ch
    args.append(current)
    return args


def returns(trace, function):
    """(argument text, return value) of every traced call of the function
    that returned, in order; each Ret is paired with the open Call of the
    same thread and name."""
    line = re.compile(r"^([0-9a-f]+):(?:Call (\w+)\.(\w+)\((.*)\) ret=[0-9a-f]+"
                      r"|Ret  (\w+)\.(\w+)\(\) retval=([0-9a-f]+) ret=[0-9a-f]+)$", re.M)
    open_calls, done = {}, []
    for m in line.finditer(trace):
        tid = m.group(1)
        if m.group(2):
            key = (tid, m.group(2).lower(), m.group(3))
            open_calls.setdefault(key, []).append(m.group(4))
        else:
            key = (tid, m.group(5).lower(), m.group(6))
            if open_calls.get(key):
                args = open_calls[key].pop()
                if m.group(6) == function:
                    done.append((args, int(m.group(7), 16)))
    return done


def calls_on(trace, function, path):
    """The return values of the traced calls of the function whose first
    argument is the path."""
    return [ret for args, ret in returns(trace, function)
            if relay_string(split_args(args)[0]) == path]


def low32(arg):
    """An integer argument: relay64 prints whole registers, the callee sees 32 bits."""
    return int(arg.strip().split()[0], 16) & 0xFFFFFFFF


def wait_for(path, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if os.path.isfile(path) and os.path.getsize(path) > 0:
            return True
        time.sleep(0.5)
    return False


def read(path):
    with open(path, "rb") as f:
        return f.read()


def check_payload(c, run, staging, build, setup_ex_=None):
    """The ten payload files as the payload folder has them; setup_ex_, when
    given, is what the executable carries for Setup.ex_ instead."""
    for name in PAYLOAD_FILES:
        path = os.path.join(staging, name)
        if name == "Setup.ex_" and setup_ex_ is not None:
            c.check(f"{run}: {name} holds the bytes that the executable carries",
                    os.path.isfile(path) and read(path) == setup_ex_)
            continue
        c.check(f"{run}: {name} is byte-identical to payload/{name}",
                os.path.isfile(path) and
                filecmp.cmp(path, os.path.join(build, "payload", name), shallow=False))


def check_expanded_setup(c, run, staging, build):
    setup = os.path.join(staging, "Setup.exe")
    c.check(f"{run}: Setup.exe is identical to the demo setup program",
            os.path.isfile(setup) and
            filecmp.cmp(setup, os.path.join(build, "demo", "demo_setup.exe"), shallow=False))


def check_setup_log(c, run, staging, staging_windows):
    log = os.path.join(staging, "Setup.log")
    if not c.check(f"{run}: the started setup program wrote Setup.log into the staging folder",
                   wait_for(log, 30)):
        return
    with open(log, "rb") as f:
        lines = f.read().decode("latin-1").split("\r\n")
    c.equal(f"{run}: the setup program's working folder was the staging folder",
            lines[0], f"Folder={staging_windows}")
    c.check(f"{run}: the setup program found every file that Setup.lst names",
            len(lines) > 2 and not any(l.endswith("=missing") for l in lines), repr(lines))


class RunningProgram:
    """A program started suspended by hold_running.exe: to Windows it is
    running, so its file cannot be replaced, yet it does nothing. It is
    ended when the block is left, and at the latest after the seconds."""

    def __init__(self, wine, holder, program_windows, seconds=120):
        self.command = [wine.wine, holder, program_windows, "C:\\", str(seconds)]
        self.env = wine.env()
        self.process = None
        self.started = ""
        self.ended = ""

    def __enter__(self):
        self.process = subprocess.Popen(self.command, env=self.env, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.started = self._line(60)
        return self

    def _line(self, seconds):
        ready, _, _ = select.select([self.process.stdout], [], [], seconds)
        return self.process.stdout.readline().decode("latin-1").strip() if ready else ""

    def __exit__(self, *exc):
        try:
            self.process.stdin.write(b"\n")
            self.process.stdin.close()
        except OSError:
            pass
        self.ended = self._line(30)
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def with_broken_setup_ex_(exe, folder):
    """A copy of the executable whose Setup.ex_ resource (TEST9) begins with
    "!hzl" instead of "!HZL", so that it is no compressed file; the copy's
    path and the resource's bytes."""
    pe = pefile.PE(exe)
    start = size = None
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.name is not None and str(kind.name) == "FILE":
            for entry in kind.directory.entries:
                if entry.name is not None and str(entry.name) == "TEST9":
                    data = entry.directory.entries[0].data.struct
                    start, size = pe.get_offset_from_rva(data.OffsetToData), data.Size
    pe.close()
    with open(exe, "rb") as f:
        image = bytearray(f.read())
    if start is None or image[start:start + 4] != b"!HZL":
        return None, None
    image[start:start + 4] = b"!hzl"
    os.makedirs(folder, exist_ok=True)
    copy = os.path.join(folder, os.path.basename(exe))
    with open(copy, "wb") as f:
        f.write(image)
    return copy, bytes(image[start:start + size])


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "win64"))
    exe = os.path.join(build, "bin", "Setup_Merlavox.exe")
    closer = os.path.join(build, "tests", "box_closer.exe")
    holder = os.path.join(build, "tests", "hold_running.exe")
    c = Checks("wine_e2e")
    for tool in ("wine", "wineserver", "Xvfb"):
        c.check(f"{tool} is installed", shutil.which(tool) is not None or
                (tool == "wineserver" and os.path.exists("/usr/lib/wine/wineserver64")))
    for path in (exe, closer, holder):
        c.check(f"{os.path.relpath(path, ROOT)} is built", os.path.isfile(path))
    if c.failed:
        c.finish()

    work = os.path.join(build, "wine-test")
    shutil.rmtree(work, ignore_errors=True)
    prefix = os.path.join(work, "prefix")
    os.makedirs(work)
    wine = Wine(prefix)

    started = time.monotonic()
    boot = wine.run(["wineboot", "-i"], timeout=300)
    wine.settle()
    c.equal("a fresh wine prefix is made", boot.returncode, 0)
    print(f"      wineboot took {time.monotonic() - started:.0f} s")

    # Where GetTempPathA points: TMP, else TEMP, of the prefix's environment.
    temp_windows = ""
    for var in ("TMP", "TEMP"):
        value = wine.text(["cmd", "/c", f"echo %{var}%"])
        if value and value != f"%{var}%":
            temp_windows = value
            break
    temp = wine.text(["winepath", "-u", temp_windows]) if temp_windows else ""
    if not c.check(f"the prefix's temporary folder {temp_windows!r} is found",
                   bool(temp) and os.path.isdir(temp), f"unix path {temp!r}"):
        c.finish()
    staging = os.path.join(temp, STAGING)
    staging_windows = temp_windows.rstrip("\\") + "\\" + STAGING
    c.check("no staging folder before the first run", not os.path.exists(staging))

    # 1. First run, no display.
    run = "first run"
    result = wine.run([exe], timeout=120)
    c.equal(f"{run}: exit code", result.returncode, 0)
    check_payload(c, run, staging, build)
    check_expanded_setup(c, run, staging, build)
    check_setup_log(c, run, staging, staging_windows)
    wine.settle()
    c.equal(f"{run}: the staging folder holds the ten files, Setup.exe and Setup.log",
            sorted(os.listdir(staging)), sorted(PAYLOAD_FILES + ["Setup.exe", "Setup.log"]))

    # 2. Second run over the first one's folder, on a display, traced.
    run = "second run"
    foreign = os.path.join(staging, "Eigene Notizen.txt")
    with open(foreign, "wb") as f:
        f.write(b"not the bootstrapper's\r\n")
    with open(os.path.join(staging, "Liesmich.txt"), "wb") as f:
        f.write(b"x" * 100000)  # longer than the payload's: replaced, not overwritten
    with open(os.path.join(staging, "Setup.exe"), "wb") as f:
        f.write(b"MZ stale")
    os.remove(os.path.join(staging, "Setup.log"))
    wine.run(["reg", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/t", "REG_SZ",
              "/d", RELAY, "/f"], timeout=60)
    wine.settle()
    with VirtualDisplay() as display:
        c.check(f"{run}: Xvfb gives a display", display.name is not None)
        result, trace = wine.traced([exe], os.path.join(work, "second-run.trace"), display.name)
        c.equal(f"{run}: exit code", result.returncode, 0)
        check_payload(c, run, staging, build)
        check_expanded_setup(c, run, staging, build)
        check_setup_log(c, run, staging, staging_windows)
        wine.settle()
    with open(foreign, "rb") as f:
        c.equal(f"{run}: a foreign file in the staging folder is left alone", f.read(),
                b"not the bootstrapper's\r\n")

    # The bootstrapper's own thread is the one that makes the application window.
    windows = [m for m in re.finditer(
        r'^([0-9a-f]+):Call user32\.CreateWindowExA\((.*)\) ret=[0-9a-f]+$', trace, re.M)
        if '"TApplication"' in m.group(2)]
    if c.check(f"{run}: the application window is created, class TApplication", len(windows) == 1,
               f"{len(windows)} such calls"):
        tid = windows[0].group(1)
        own = "\n".join(l for l in trace.splitlines() if l.startswith(tid + ":"))
        args = split_args(windows[0].group(2))
        c.check(f"{run}: the application window is created without WS_VISIBLE",
                not low32(args[3]) & WS_VISIBLE, args[3])
        handle = re.search(r"Ret  user32\.CreateWindowExA\(\) retval=([0-9a-f]+)", own)
        handle = handle.group(1) if handle else "0"
        c.check(f"{run}: with a display the window exists", int(handle, 16) != 0)
        titles = [split_args(a) for a in calls(own, "SetWindowTextA")]
        c.check(f"{run}: its caption becomes the title Setup_Merlavox",
                any(a[0].strip() == handle and relay_string(a[1]) == "Setup_Merlavox"
                    for a in titles), repr(titles))
        c.check(f"{run}: it is never shown",
                not any(split_args(a)[0].strip() == handle for a in calls(own, "ShowWindow")))
        c.check(f"{run}: it is destroyed at the end",
                any(a.strip() == handle for a in calls(own, "DestroyWindow")))

        temp_calls = [split_args(a) for a in calls(own, "GetTempPathA")]
        c.check(f"{run}: GetTempPathA is told a length of 255",
                len(temp_calls) == 1 and low32(temp_calls[0][0]) == 255, repr(temp_calls))

        opens = {}
        for a in calls(own, "CreateFileA"):
            a = split_args(a)
            name = (relay_string(a[0]) or "").rsplit("\\", 1)[-1]
            opens.setdefault(name, []).append(tuple(low32(x) for x in a[1:]))
        create = (GENERIC_READ | GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0)
        c.check(f"{run}: each payload file is created once: read/write, share 0, CREATE_ALWAYS",
                all(opens.get(n, [None])[0] == create for n in PAYLOAD_FILES) and
                all(len(opens.get(n, [])) == (2 if n == "Setup.ex_" else 1)
                    for n in PAYLOAD_FILES), repr(opens))
        c.equal(f"{run}: Setup.ex_ is opened to read: GENERIC_READ, share 0, OPEN_EXISTING",
                opens.get("Setup.ex_", [None, None])[1:],
                [(GENERIC_READ, 0, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0)])
        c.equal(f"{run}: Setup.exe is created like the payload files", opens.get("Setup.exe"),
                [create])

        launches = [split_args(a) for a in calls(own, "ShellExecuteA")]
        seen = None
        if len(launches) == 1:
            a = launches[0]
            seen = (a[0].strip(), relay_string(a[1]), relay_string(a[2]), relay_string(a[3]),
                    relay_string(a[4]), low32(a[5]))
        c.equal(f"{run}: ShellExecuteA(0, \"open\", Setup.exe, \"\", staging folder, SW_SHOW)",
                seen, ("00000000", "open", staging_windows + "\\Setup.exe", "",
                       staging_windows, 5))

    # 3. The old Setup.exe is still running, so it cannot be replaced.
    run = "run beside a running Setup.exe"
    setup = os.path.join(staging, "Setup.exe")
    setup_windows = staging_windows + "\\Setup.exe"
    log = os.path.join(staging, "Setup.log")
    old_setup = read(os.path.join(build, "demo", "demo_setup.exe")) + OLD_SETUP_TAG
    with open(setup, "wb") as f:
        f.write(old_setup)
    if os.path.exists(log):
        os.remove(log)
    with RunningProgram(wine, holder, setup_windows) as held:
        c.check(f"{run}: the old Setup.exe is running", re.fullmatch(r"started=\d+", held.started)
                is not None, repr(held.started))
        result, trace = wine.traced([exe], os.path.join(work, "held-run.trace"))
        c.equal(f"{run}: exit code", result.returncode, 0)
        check_payload(c, run, staging, build)
        c.equal(f"{run}: the expansion cannot create Setup.exe",
                calls_on(trace, "CreateFileA", setup_windows), [INVALID_HANDLE_VALUE])
        c.equal(f"{run}: nothing deletes Setup.exe", calls_on(trace, "DeleteFileA", setup_windows),
                [])
        c.check(f"{run}: Setup.exe is the old one, byte for byte",
                os.path.isfile(setup) and read(setup) == old_setup)
        launches = [ret for args, ret in returns(trace, "ShellExecuteA")
                    if relay_string(split_args(args)[2]) == setup_windows]
        c.check(f"{run}: ShellExecuteA starts Setup.exe (a result above 32)",
                len(launches) == 1 and launches[0] > 32, repr(launches))
        check_setup_log(c, run, staging, staging_windows)
        c.check(f"{run}: no message is shown",
                not calls(trace, "MessageBoxA") and not calls(trace, "MessageBoxW"))
    c.equal(f"{run}: the old Setup.exe is ended afterwards", held.ended, "ended")
    wine.settle()

    # 4. Setup.ex_ is no compressed file; a stale Setup.exe stands in the way.
    run = "run with a broken Setup.ex_"
    broken, broken_setup_ex_ = with_broken_setup_ex_(exe, os.path.join(work, "broken"))
    if c.check(f"{run}: a copy with Setup.ex_'s signature patched is made", broken is not None):
        with open(setup, "wb") as f:
            f.write(old_setup)
        if os.path.exists(log):
            os.remove(log)
        result, trace = wine.traced([broken], os.path.join(work, "broken-run.trace"))
        wine.settle()
        c.equal(f"{run}: exit code", result.returncode, 0)
        check_payload(c, run, staging, build, broken_setup_ex_)
        created = calls_on(trace, "CreateFileA", setup_windows)
        c.check(f"{run}: the expansion creates Setup.exe, replacing the stale one",
                len(created) == 1 and created[0] != INVALID_HANDLE_VALUE, repr(created))
        c.equal(f"{run}: and deletes it, once, when the signature is found wrong",
                len(calls_on(trace, "DeleteFileA", setup_windows)), 1)
        c.check(f"{run}: no Setup.exe remains", not os.path.lexists(setup))
        launches = [ret for args, ret in returns(trace, "ShellExecuteA")
                    if relay_string(split_args(args)[2]) == setup_windows]
        c.check(f"{run}: the launch is still made, and fails (a result of 32 or less)",
                len(launches) == 1 and launches[0] <= 32, repr(launches))
        c.check(f"{run}: no message is shown",
                not calls(trace, "MessageBoxA") and not calls(trace, "MessageBoxW"))
        c.check(f"{run}: nothing is started (no Setup.log)", not os.path.exists(log))

    # 5. A failure without a display: the staging folder cannot be made.
    run = "failed run"
    wine.settle()
    shutil.rmtree(staging)
    with open(staging, "wb") as f:
        f.write(b"in the way\r\n")
    result, trace = wine.traced([exe], os.path.join(work, "failed-run.trace"))
    wine.settle()
    c.equal(f"{run}: exit code", result.returncode, 1)
    boxes = [split_args(a) for a in calls(trace, "MessageBoxA")]
    report = re.compile(
        r'Exception EFCreateError in Modul Setup_Merlavox\.exe bei [0-9A-F]{8}\.\n'
        r'Datei "%s" kann nicht erstellt werden\. [^\n]*[^.\s]\.' %
        re.escape(staging_windows + "\\Merlavox.ex_"))
    if c.check(f"{run}: MessageBoxA is called once", len(boxes) == 1, repr(boxes)):
        owner, text, title, flags = boxes[0]
        c.equal(f"{run}: the box has no owner window", owner.strip(), "00000000")
        c.check(f"{run}: the box shows the EFCreateError report for Merlavox.ex_",
                report.fullmatch(relay_string(text) or "") is not None, relay_string(text))
        c.equal(f"{run}: the box's title", relay_string(title), TITLE)
        c.equal(f"{run}: the box's flags are MB_OK | MB_ICONERROR | MB_TASKMODAL",
                low32(flags), 0x2010)
    c.check(f"{run}: nothing is started", not calls(trace, "ShellExecuteA"))
    with open(staging, "rb") as f:
        c.equal(f"{run}: the file in the way is left as it was", f.read(), b"in the way\r\n")

    # 6. The same failure with a display: the box stands until OK is pressed.
    run = "failed run with a display"
    with VirtualDisplay() as display:
        env = wine.env(display.name)
        program = subprocess.Popen([wine.wine, exe], env=env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        box = None
        try:
            box = wine.run([closer, TITLE, "TApplication", "60"], timeout=120, env=env)
            code = program.wait(timeout=60)
        except subprocess.TimeoutExpired:
            program.kill()
            code = None
        wine.settle()
    out = box.stdout.decode("latin-1") if box else ""
    seen = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    print("      box_closer: " + repr(seen))
    c.equal(f"{run}: the box stands", seen.get("box"), "present")
    c.equal(f"{run}: its title", seen.get("box_title"), TITLE)
    text = (seen.get("box_text") or "").replace("\\x0A", "\n").replace("\\\\", "\\")
    c.check(f"{run}: its text is the EFCreateError report for Merlavox.ex_",
            report.fullmatch(text) is not None, repr(text))
    c.equal(f"{run}: it has an OK button", seen.get("box_ok_button"), "present")
    c.equal(f"{run}: the application's window exists, captioned with the title",
            (seen.get("app_window"), seen.get("app_caption")), ("present", "Setup_Merlavox"))
    c.equal(f"{run}: the application's window is hidden", seen.get("app_visible"), "no")
    c.equal(f"{run}: the task-modal box disables the application's window",
            seen.get("app_enabled"), "no")
    c.equal(f"{run}: exit code once OK is pressed", code, 1)

    print(f"      wine tests took {time.monotonic() - started:.0f} s")
    c.finish()


if __name__ == "__main__":
    main()
