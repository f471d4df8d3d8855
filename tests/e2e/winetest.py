"""Isolated Wine prefixes for end-to-end tests of the setup program.

One template prefix is made per build tree (wineboot once, then adjusted: real shell folders, no menu
builder, the null graphics driver for headless runs). Every test copies it into a fresh prefix, so no
test sees another's state. Registry hives are read back from the prefix's .reg files after the
wineserver has been stopped.
"""
import contextlib
import fcntl
import getpass
import os
import re
import shutil
import subprocess
import tempfile
import time

from hivefile import parse_reg, set_reg_value

SETUP_EXE = os.environ.get("GLIMMERLY_SETUP_EXE", "")
VIEWER_EXE = os.environ.get("GLIMMERLY_VIEWER_EXE", "")
PRODUCT_DIR = os.environ.get("GLIMMERLY_PRODUCT_DIR", "")
FIXTURES = os.environ.get("GLIMMERLY_FIXTURES", "")
TEMPLATE = os.environ.get("GLIMMERLY_WINE_TEMPLATE", os.path.join(tempfile.gettempdir(), "glimmerly-wine-template"))
USER = getpass.getuser()
# win32: the real 32-bit program in 32-bit prefixes; win64: the 64-bit build of the same sources in
# 64-bit prefixes, on machines that cannot execute 32-bit code.
ARCH = os.environ.get("GLIMMERLY_WINE_ARCH", "win32")
WINE = "/usr/lib/wine/wine64" if ARCH == "win64" else "wine"
# A prefix of the other architecture (the 32-bit program in a 64-bit prefix) has a template of its own
# and is served by its own server; Wine's own programs there run with that architecture's loader.
WINE64 = "/usr/lib/wine/wine64"
WINESERVER64 = "/usr/lib/wine/wineserver64"
WINESERVER = WINESERVER64 if ARCH == "win64" else "wineserver"

BASE_ENV = {
    "WINEARCH": ARCH,
    "WINEDEBUG": "-all",
    "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
    "LC_ALL": "C.UTF-8",
    "TZ": "UTC",
}

# The user's shell folders, real folders in the template (Wine would link them into the home folder).
SHELL_FOLDERS = ["Desktop", "Documents", "Downloads", "Music", "Pictures", "Videos", "Templates"]
WINE_FONTS = ["tahoma.ttf", "tahomabd.ttf", "marlett.ttf"]
# Raised whenever the template's making changes: a template of another version is made again.
TEMPLATE_VERSION = "2"


def _server(arch):
    return WINESERVER64 if arch == "win64" else WINESERVER


def _env(prefix, extra=None, arch=ARCH):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.update(BASE_ENV)
    env["WINEARCH"] = arch
    if arch == "win64":
        # The server that the 64-bit loader starts is the one the harness stops.
        env["WINESERVER"] = WINESERVER64
    env["WINEPREFIX"] = prefix
    if extra:
        env.update(extra)
    return env


def _wine(prefix, *args, extra_env=None, check=True, timeout=120, cwd=None, arch=ARCH, loader=WINE):
    return subprocess.run([loader, *args], env=_env(prefix, extra_env, arch), cwd=cwd, check=check,
                          timeout=timeout, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def stop_server(prefix, arch=ARCH):
    env = _env(prefix, arch=arch)
    subprocess.run([_server(arch), "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([_server(arch), "-w"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def _make_template(path, arch=ARCH):
    work = path + ".new"
    shutil.rmtree(work, ignore_errors=True)
    loader = WINE64 if arch == "win64" else WINE
    subprocess.run([loader, "wineboot", "-i"], env=_env(work, arch=arch), check=True, timeout=300,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    profile = os.path.join(work, "drive_c", "users", USER)
    for name in SHELL_FOLDERS:
        folder = os.path.join(profile, name)
        if os.path.islink(folder):
            os.unlink(folder)
        os.makedirs(folder, exist_ok=True)
    # Wine's own faces (Tahoma for dialogs, Marlett for the caption buttons) are found only where the
    # prefix keeps its fonts.
    for name in WINE_FONTS:
        source = os.path.join("/usr/share/wine/fonts", name)
        if os.path.exists(source):
            shutil.copy(source, os.path.join(work, "drive_c", "windows", "Fonts", name))
    for key, name, value in [
        (r"HKCU\Software\Wine\DllOverrides", "winemenubuilder.exe", ""),
        (r"HKCU\Software\Wine\Drivers", "Graphics", "null"),
        (r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes", "Microsoft Sans Serif", "Tahoma"),
    ]:
        _wine(work, "reg", "add", key, "/v", name, "/d", value, "/f", arch=arch, loader=loader)
    stop_server(work, arch)
    with open(os.path.join(work, "glimmerly-template"), "w") as stamp:
        stamp.write(TEMPLATE_VERSION)
    os.rename(work, path)


def ensure_template(path=TEMPLATE, arch=ARCH):
    """The template prefix, made once; concurrent test processes wait for the first to finish."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        stamp = os.path.join(path, "glimmerly-template")
        if os.path.isdir(path) and not (os.path.exists(stamp) and _read(stamp) == TEMPLATE_VERSION.encode()):
            shutil.rmtree(path)
        if not os.path.isdir(path):
            _make_template(path, arch)
    return path


def exit_status(launcher_output):
    """The whole exit status of a program the launcher waited for (Wine's own keeps its low byte); None
    when the launcher saw no end of it."""
    found = re.findall(rb"^exit status (\d+)", launcher_output, re.M)
    return int(found[-1]) if found else None


class Result:
    def __init__(self, returncode, stdout, stderr):
        self.returncode, self.stdout, self.stderr = returncode, stdout, stderr

    @property
    def status(self):
        status = exit_status(self.stdout)
        if status is None:
            # The launcher did not see the program end: what Wine said is all there is to go on.
            raise AssertionError("no exit status; launcher returned %d; Wine said: %s"
                                 % (self.returncode, self.stderr[-3000:].decode("utf-8", "replace")))
        return status


class Prefix:
    """A fresh copy of the template prefix, removed again when the test ends.

    arch "win64" where the tests run 32-bit programs gives a 64-bit prefix for them (Windows on WOW64)."""

    def __init__(self, version="win7", arch=ARCH):
        self.arch = arch
        template = ensure_template(TEMPLATE if arch == ARCH else TEMPLATE + "-" + arch, arch)
        self.root = tempfile.mkdtemp(prefix="glimmerly-e2e-")
        self.path = os.path.join(self.root, "prefix")
        subprocess.run(["cp", "-a", template, self.path], check=True)
        self.set_value("user", r"Software\Wine", "Version", version)
        self.version = version
        self._background = []

    # --- paths -----------------------------------------------------------------------------------
    def host(self, windows_path):
        """Host path of a Windows path on drive C: (C:\\a\\b -> .../drive_c/a/b)."""
        path = windows_path.replace("\\", "/")
        if re.match(r"^[cC]:", path):
            path = path[2:]
        return os.path.join(self.path, "drive_c", path.lstrip("/"))

    @property
    def profile(self):
        return "C:\\users\\" + USER

    def read_bytes(self, windows_path):
        with open(self.host(windows_path), "rb") as handle:
            return handle.read()

    def exists(self, windows_path):
        return os.path.lexists(self.host(windows_path))

    def put_file(self, windows_path, data):
        path = self.host(windows_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as handle:
            handle.write(data)

    # --- registry --------------------------------------------------------------------------------
    def _hive(self, which):
        return os.path.join(self.path, {"user": "user.reg", "system": "system.reg"}[which])

    def set_value(self, which, key, name, value):
        """which: 'user' (HKCU) or 'system' (HKLM); key without the root, e.g. Software\\Wine.
        value: str, int (dword) or ("expand", str)."""
        stop_server(self.path, self.arch)
        set_reg_value(self._hive(which), key, name, value)

    def registry(self, which):
        stop_server(self.path, self.arch)
        return parse_reg(self._hive(which))

    def key(self, which, key):
        """Values of one key, or None when the key does not exist."""
        return self.registry(which).get(key.lower())

    def snapshot(self):
        """What an installation can leave behind: every file of drive C: outside the Windows folder
        (path relative to C: -> bytes, or a link's fields) and both registry hives."""
        stop_server(self.path)
        drive = os.path.join(self.path, "drive_c")
        files = {}
        for base, dirs, names in os.walk(drive):
            if base == drive:
                dirs[:] = [d for d in dirs if d.lower() != "windows"]
            for name in names:
                path = os.path.join(base, name)
                if os.path.islink(path):
                    continue
                # A link records the dates of the folders on its way; what it points to is what counts.
                if name.lower().endswith(".lnk"):
                    files[os.path.relpath(path, drive)] = {k: v for k, v in lnkinfo(path).items()
                                                           if "time" not in k.lower()}
                else:
                    files[os.path.relpath(path, drive)] = _read(path)
        hives = {which: self.registry(which) for which in ("system", "user")}
        # Wine stamps the display driver's start date and time into its device class key.
        for values in hives["system"].values():
            values.pop("DriverDate", None)
            values.pop("DriverDateData", None)
        # Wine's debugger records its settings after one of Wine's own background processes crashed.
        hives["user"].pop("software\\wine\\winedbg", None)
        return dict(files=files, **hives)

    # --- running ---------------------------------------------------------------------------------
    def _setup_copy(self, exe):
        """The setup program (or exe) copied into C:\\setup of the prefix once: its Windows path."""
        exe = exe or SETUP_EXE
        target = "C:\\setup\\" + os.path.basename(exe)
        if not self.exists(target):
            self.put_file(target, _read(exe))
        return target

    def _launch_env(self, program, command_line, cwd, extra_env):
        full = '"%s"%s' % (program, (" " + command_line) if command_line else "")
        host_cwd = self.host(cwd)
        os.makedirs(host_cwd, exist_ok=True)
        env = {"GLIMMERLY_COMMAND_LINE": full}
        env.update(extra_env or {})
        return env, host_cwd

    def run(self, command_line, cwd="C:\\", exe=None, timeout=120, extra_env=None):
        """Runs the setup program with exactly this command line (after the program path) from cwd.

        The command line reaches the program unchanged: a launcher starts it with CreateProcessW."""
        return self.run_program(self._setup_copy(exe), command_line, cwd, timeout, extra_env)

    def run_program(self, program, command_line, cwd="C:\\", timeout=120, extra_env=None):
        """Runs a program of the prefix (a Windows path) with exactly this command line after its path."""
        env, host_cwd = self._launch_env(program, command_line, cwd, extra_env)
        proc = _wine(self.path, launcher(), extra_env=env, check=False, timeout=timeout, cwd=host_cwd,
                     arch=self.arch)
        return Result(proc.returncode, proc.stdout, proc.stderr)

    def start(self, command_line="", cwd="C:\\", exe=None, extra_env=None):
        """Starts the setup program like run, in the background; the process ends with the program, and
        its standard output names the program's exit status."""
        env, host_cwd = self._launch_env(self._setup_copy(exe), command_line, cwd, extra_env)
        proc = subprocess.Popen([WINE, launcher()], env=_env(self.path, env, self.arch), cwd=host_cwd,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self._background.append(proc)
        return proc

    def start_viewer(self, args="", wait_for_window=True):
        """Starts the sample viewer in the background; it keeps running until the prefix is closed."""
        target = "C:\\viewer\\gl_main32.exe"
        if not self.exists(target):
            self.put_file(target, _read(VIEWER_EXE))
        env = _env(self.path, {"GLIMMERLY_COMMAND_LINE": '"%s" %s' % (target, args), "GLIMMERLY_NO_WAIT": "1"},
                   self.arch)
        proc = subprocess.Popen([WINE, launcher()], env=env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        self._background.append(proc)
        # The launcher returns once the viewer is started; asking for its window while the prefix is
        # still starting up can stall Wine.
        proc.wait(timeout=60)
        if wait_for_window:
            deadline = time.time() + 30
            while time.time() < deadline:
                if self.window_exists("Glimmerly"):
                    return
                time.sleep(0.3)
            raise AssertionError("the sample viewer's window did not appear")

    def wait_for_programs(self, timeout=60):
        """Waits until every program started in the prefix has ended (the server then ends too)."""
        subprocess.run([WINESERVER, "-w"], env=_env(self.path), timeout=timeout, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def window_exists(self, class_name):
        env = {"GLIMMERLY_FIND_WINDOW": class_name}
        try:
            proc = _wine(self.path, launcher(), extra_env=env, check=False, timeout=30, arch=self.arch)
        except subprocess.TimeoutExpired:
            # Seen rarely while the first window of a prefix creates its desktop: ask again.
            return False
        return proc.returncode == 0

    def close(self):
        stop_server(self.path, self.arch)
        for proc in self._background:
            with contextlib.suppress(Exception):
                proc.communicate(timeout=10)
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def _read(path):
    with open(path, "rb") as handle:
        return handle.read()


def launcher():
    path = os.path.join(FIXTURES, "runexact.exe")
    if not os.path.exists(path):
        raise AssertionError("launcher missing: " + path)
    return path


def lnkinfo(host_path):
    """Fields of a shell link read with lnkinfo: {field name: value}."""
    out = subprocess.run(["lnkinfo", host_path], check=True, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE).stdout.decode("utf-8", "replace")
    fields = {}
    for line in out.splitlines():
        if ":" in line and line.startswith("\t"):
            name, _, value = line.strip().partition(":")
            fields.setdefault(name.strip(), value.strip())
    return fields


if __name__ == "__main__":
    import sys
    # --unit-prefix TEMPLATE: make the template and the shared prefix of the unit tests next to it.
    if len(sys.argv) == 3 and sys.argv[1] == "--unit-prefix":
        template = ensure_template(sys.argv[2])
        unit = template + "-unit"
        stop_server(unit)
        shutil.rmtree(unit, ignore_errors=True)
        subprocess.run(["cp", "-a", template, unit], check=True)
    else:
        sys.exit("usage: winetest.py --unit-prefix TEMPLATE")
