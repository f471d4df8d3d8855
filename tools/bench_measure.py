"""The measuring of the extraction benchmark (tools/bench-extract.sh): runs the setup programs, the NSIS
installers and unzip in one Wine prefix, checks what each run extracted and prints the medians.

usage: python3 bench_measure.py ROOT WORK RUNS
with GLIMMERLY_WINE_ARCH and GLIMMERLY_WINE_TEMPLATE set as for the tests
"""
import os
import shutil
import statistics
import subprocess
import sys
import threading
import time
import zipfile
import zlib

root, work, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
sys.path.insert(0, os.path.join(root, "tests", "e2e"))
import winetest  # noqa: E402


def status_kb(pid, field):
    try:
        with open("/proc/%d/status" % pid) as handle:
            for line in handle:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except (FileNotFoundError, ProcessLookupError):
        return None
    return 0


def cpu_seconds(pid):
    """User and system time of a running process."""
    if pid is None:
        return 0.0
    with open("/proc/%d/stat" % pid) as handle:
        fields = handle.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def find_server(prefix):
    """The wineserver of a prefix: it does the file system work of every Wine process there."""
    for entry in os.listdir("/proc"):
        try:
            with open("/proc/%s/comm" % entry) as handle:
                if not handle.read().startswith("wineserver"):
                    continue
            with open("/proc/%s/environ" % entry, "rb") as handle:
                if ("WINEPREFIX=%s" % prefix).encode() in handle.read().split(b"\0"):
                    return int(entry)
        except OSError:
            continue
    return None


def timed(command, env=None, cwd=None, server=None):
    """Wall seconds, peak resident KiB (from the kernel), peak private KiB (sampled) and CPU seconds of one
    process together with those its Wine server spent meanwhile."""
    anon = [0]
    server_before = cpu_seconds(server)
    start = time.perf_counter()
    proc = subprocess.Popen(command, env=env, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def sample():
        while True:
            value = status_kb(proc.pid, "RssAnon")
            if value is None:
                return
            anon[0] = max(anon[0], value)
            time.sleep(0.005)

    sampler = threading.Thread(target=sample)
    sampler.start()
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    sampler.join()
    cpu = usage.ru_utime + usage.ru_stime + cpu_seconds(server) - server_before
    return wall, usage.ru_maxrss, anon[0], cpu


def expected_files(zip_path):
    with zipfile.ZipFile(zip_path) as archive:
        infos = [i for i in archive.infolist() if not i.is_dir()]
    return len(infos), sum(i.file_size for i in infos), len(archive.infolist())


def check_members(zip_path, path):
    """Every member's bytes (CRC-32) and date as the archive has them; the first difference, or None."""
    with zipfile.ZipFile(zip_path) as archive:
        for info in archive.infolist():
            if info.is_dir():
                continue
            target = os.path.join(path, *info.filename.split("/"))
            crc = 0
            with open(target, "rb") as handle:
                for chunk in iter(lambda: handle.read(1 << 20), b""):
                    crc = zlib.crc32(chunk, crc)
            if crc != info.CRC:
                return "%s: CRC-32 %08x, expected %08x" % (info.filename, crc, info.CRC)
            when = time.localtime(os.path.getmtime(target))[:6]
            if when[:5] != info.date_time[:5] or abs(when[5] - info.date_time[5]) > 1:
                return "%s: dated %s, expected %s" % (info.filename, when, info.date_time)
    return None


def tree(path):
    count = size = 0
    for folder, _, files in os.walk(path):
        for name in files:
            count += 1
            size += os.path.getsize(os.path.join(folder, name))
    return count, size


winetest.ensure_template(os.environ["GLIMMERLY_WINE_TEMPLATE"])
p = winetest.Prefix("win7")
env = winetest._env(p.path)
try:
    subprocess.run([winetest.WINESERVER, "-p"], env=env, check=True)
    server = find_server(p.path)
    bench = p.host("C:\\bench")
    out = os.path.join(bench, "out")
    os.makedirs(bench)
    for name in os.listdir(work):
        if name.endswith(".exe"):
            shutil.copy(os.path.join(work, name), bench)
    log = os.path.join(bench, "Glimmerly_Install.log")

    def ours(kind):
        result = timed([winetest.WINE, "C:\\bench\\setup-%s.exe" % kind, "/silent", "/folder=C:\\bench\\out"],
                       env=env, cwd=bench, server=server)
        if os.path.exists(log):
            sys.exit("bench: the installation of the %s payload failed (see C:\\bench\\Glimmerly_Install.log)" % kind)
        return result

    full_log = os.path.join(bench, "full.log")
    # The lines of the full log that count what the switch-over moved, what old files were deleted or
    # kept for the next run, and which of the kept ones that run wrote its members over.
    COUNTED = [b" staging over the previous version's files: ", b" previous version's files ",
               b" switch-over moved: ", b" old files deleted ", b" old installation kept ",
               b" earlier work folders deleted"]

    moves = {}

    def logged(kind):
        """Ours with the full log: the same run, every step written to a log as well. The log's counts of
        what the switch-over moved and deleted are kept for the upgrade (a run that found files)."""
        result = timed([winetest.WINE, "C:\\bench\\setup-%s.exe" % kind, "/silent", "/folder=C:\\bench\\out",
                        "/log=C:\\bench\\full.log"], env=env, cwd=bench, server=server)
        with open(full_log, "rb") as handle:
            text = handle.read()
            if not text.endswith(b"outcome: exit status 0 (installed completely)\r\n"):
                sys.exit("bench: the logged installation of the %s payload did not end complete" % kind)
        counts = [line.split(b" ", 2)[2].decode() for line in text.split(b"\r\n")
                  if any(label in line for label in COUNTED)]
        if any(line.startswith("switch-over moved: ") and not line.startswith("switch-over moved: 0 ")
               for line in counts):
            moves[kind] = counts
        os.remove(full_log)
        return result

    def nsis(kind):
        return timed([winetest.WINE, "C:\\bench\\nsis-%s.exe" % kind], env=env, cwd=bench, server=server)

    def unzip(kind):
        return timed(["unzip", "-q", "-o", os.path.join(work, kind + ".zip"), "-d", out])

    # Each run's files are moved aside, not deleted: ext4 skips inodes freed in the last dirty-expire
    # interval when it allocates new ones, so 2,000 files deleted just before a run made the next run's
    # file creation (in the Wine server, for both installers alike) grow slower from run to run. On tmpfs
    # that does not hold, and what is kept is kept in memory: nine runs of the large payload kept some
    # 15 GB there, and every tool grew slower in the later runs (unzip from 1.2 to 1.6 s). There each
    # run's files are deleted before the next run.
    trash = os.path.join(bench, "trash")
    on_tmpfs = subprocess.run(["stat", "-f", "-c", "%T", bench], capture_output=True, text=True,
                              check=True).stdout.strip() == "tmpfs"
    with open("/proc/sys/vm/dirty_expire_centisecs") as handle:
        expire_seconds = int(handle.read()) / 100.0

    def empty_trash():
        shutil.rmtree(trash, ignore_errors=True)
        os.sync()
        time.sleep(expire_seconds + 1)

    def measure(kind, tool, upgrade=False):
        if upgrade:
            # The installation that the measured run upgrades: installed and upgraded once, as most are
            # that a user upgrades; ours then holds the old files of that upgrade, still to be deleted.
            tool(kind)
            tool(kind)
        # Every run starts with the previous run's writes on disk, not still being written back.
        os.sync()
        result = tool(kind)
        if kind != "sample":
            files, size, _ = expected_files(os.path.join(work, kind + ".zip"))
            got = tree(out)
            # Ours adds its settings file; the payload's files must all be there.
            if got[0] < files or got[1] < size:
                sys.exit("bench: %s, %s: %d files, %d bytes extracted; expected %d, %d"
                         % (kind, tool.__name__, *got, files, size))
            # The installer under test is checked whole: every member's bytes and date.
            fault = check_members(os.path.join(work, kind + ".zip"), out) if tool in (ours, logged) else None
            # Of the work folders only the last run's may stay: the previous version's folders that it
            # moved aside whole, marked done.
            kept = [sorted(os.listdir(os.path.join(out, name))) for name in os.listdir(out)
                    if name.startswith("~glimmerly-setup")]
            if tool in (ours, logged) and kept not in ([], [["old", "switch.done"]]):
                fault = "work folders were left behind: %s" % kept
            if fault:
                sys.exit("bench: %s, ours: %s" % (kind, fault))
        if on_tmpfs:
            subprocess.run(["chmod", "-R", "u+w", out], check=True)
            shutil.rmtree(out)
        else:
            os.makedirs(trash, exist_ok=True)
            os.rename(out, os.path.join(trash, str(len(os.listdir(trash)))))
        return result

    base = measure("sample", ours)
    results, upgrades = {}, {}
    for kind in ["small", "large"]:
        empty_trash()
        # One unmeasured run of each first: the first runs after a pause were slower for every tool.
        for tool in (ours, logged, nsis, unzip):
            measure(kind, tool)
        results[kind] = {ours: [], logged: [], nsis: [], unzip: []}
        upgrades[kind] = {ours: [], logged: [], nsis: []}
        for run in range(runs):
            # Alternating, so that neither installer always meets the caches the other left behind.
            order = [ours, logged, nsis] if run % 2 == 0 else [nsis, logged, ours]
            for tool in order + [unzip]:
                results[kind][tool].append(measure(kind, tool))
            for tool in order:
                upgrades[kind][tool].append(measure(kind, tool, upgrade=True))

    def median(values, index):
        return statistics.median(v[index] for v in values)

    print()
    print("Wine start and installation of the small sample payload (ours): %.2f s" % base[0])
    print("medians of %d alternating runs; CPU: the process and, for the installers, the Wine server" % runs)
    print("%-7s %7s %5s %6s | %6s %6s %7s | %9s %10s | %8s %8s %9s | %10s %10s" % (
        "payload", "members", "MB", "zip MB", "ours s", "NSIS s", "unzip s", "ours/NSIS", "ours/unzip",
        "ours CPU", "NSIS CPU", "unzip CPU", "ours MiB", "NSIS MiB"))
    for kind in ["small", "large"]:
        r = results[kind]
        files, size, members = expected_files(os.path.join(work, kind + ".zip"))
        zip_mb = os.path.getsize(os.path.join(work, kind + ".zip")) / 1e6
        t_ours, t_nsis, t_unzip = median(r[ours], 0), median(r[nsis], 0), median(r[unzip], 0)
        memory = {tool: "%4.0f / %3.0f" % (median(r[tool], 1) / 1024, median(r[tool], 2) / 1024)
                  for tool in (ours, nsis)}
        print("%-7s %7d %5.0f %6.0f | %6.2f %6.2f %7.2f | %9.2f %10.2f | %8.2f %8.2f %9.2f | %10s %10s" % (
            kind, members, size / 1e6, zip_mb, t_ours, t_nsis, t_unzip, t_ours / t_nsis, t_ours / t_unzip,
            median(r[ours], 3), median(r[nsis], 3), median(r[unzip], 3), memory[ours], memory[nsis]))
    print("upgrade: the same payload installed over an installation that was installed and upgraded once")
    print("%-7s | %6s %6s | %9s | %8s %8s | %10s %10s" % (
        "payload", "ours s", "NSIS s", "ours/NSIS", "ours CPU", "NSIS CPU", "ours MiB", "NSIS MiB"))
    for kind in ["small", "large"]:
        r = upgrades[kind]
        t_ours, t_nsis = median(r[ours], 0), median(r[nsis], 0)
        memory = {tool: "%4.0f / %3.0f" % (median(r[tool], 1) / 1024, median(r[tool], 2) / 1024)
                  for tool in (ours, nsis)}
        print("%-7s | %6.2f %6.2f | %9.2f | %8.2f %8.2f | %10s %10s" % (
            kind, t_ours, t_nsis, t_ours / t_nsis, median(r[ours], 3), median(r[nsis], 3), memory[ours],
            memory[nsis]))
    print("what the upgrade moved and deleted (its full log):")
    for kind in ["small", "large"]:
        for line in moves.get(kind, ["no count logged"]):
            print("  %-7s %s" % (kind, line))
    print("full log (/log=): median wall time with it against without it")
    for kind in ["small", "large"]:
        for name, r in [("first", results[kind]), ("upgrade", upgrades[kind])]:
            with_log, without = median(r[logged], 0), median(r[ours], 0)
            print("  %-5s %-7s %6.2f s against %6.2f s: %+5.1f %% (CPU %+5.1f %%)" % (
                kind, name, with_log, without, 100.0 * (with_log - without) / without,
                100.0 * (median(r[logged], 3) - median(r[ours], 3)) / median(r[ours], 3)))
    print("MiB: peak resident / peak private memory of the installer process")
    for tool in (ours, nsis):
        small, large = results["small"][tool], results["large"][tool]
        print("%s peak memory, large against small payload: resident %+.1f %%, private %+.1f %%" % (
            "ours" if tool is ours else "NSIS",
            100.0 * (median(large, 1) - median(small, 1)) / median(small, 1),
            100.0 * (median(large, 2) - median(small, 2)) / median(small, 2)))
    print("all wall times (s):")
    for kind in ["small", "large"]:
        for tool in (ours, logged, nsis, unzip):
            print("  %-6s %-6s %s" % (kind, tool.__name__, " ".join("%.2f" % v[0] for v in results[kind][tool])))
        for tool in (ours, logged, nsis):
            print("  %-6s %-6s upgrade %s" % (kind, tool.__name__,
                                             " ".join("%.2f" % v[0] for v in upgrades[kind][tool])))
finally:
    subprocess.run([winetest.WINESERVER, "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    p.close()
