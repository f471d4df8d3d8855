#!/usr/bin/env bash
# Benchmark of the payload extraction: builds two synthetic payloads of the same total size (about 200 MB
# in about 2,000 members: one of small members only, one whose largest member is over 100 MB), embeds each
# in a setup program, runs a silent installation of each under Wine and extracts the same archives with
# Info-ZIP unzip. Prints both wall times, their ratio and the installer's peak memory.
#
# Usage: tools/bench-extract.sh [--runs N] [--keep]
# Work files go to build/bench (BENCH_DIR overrides); --keep leaves the payloads and programs there.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=${BENCH_DIR:-$root/build/bench}
runs=1
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: $0 [--runs N] [--keep]" >&2; exit 2 ;;
  esac
done
command -v unzip >/dev/null || { echo "bench: Info-ZIP unzip is missing" >&2; exit 1; }

# Like the tests: where 32-bit programs cannot run, the 64-bit build of the same sources is measured.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  arch=win32 toolchain=mingw-i686-win32
else
  arch=win64 toolchain=mingw-x86_64-win32
fi
mkdir -p "$work"

echo "bench: writing the payloads"
python3 - "$work" <<'EOF'
import math
import os
import random
import sys
import zipfile

TOTAL = 200_000_000
MEMBERS = 2000
FOLDERS = 20
work = sys.argv[1]

WORDS = ("image viewer thumbnail plugin gamma colour palette slide show batch convert rotate crop "
         "resize sharpen histogram metadata exif lossless jpeg bitmap icon toolbar skin").split()


def sizes(rng, count, total, low, high):
    """count sizes drawn log-uniformly from [low, high], scaled so that they add up to total."""
    drawn = [math.exp(rng.uniform(math.log(low), math.log(high))) for _ in range(count)]
    scale = total / sum(drawn)
    result = [max(1, int(d * scale)) for d in drawn]
    result[-1] += total - sum(result)
    return result


def content(rng, text, size):
    """Text and random bytes in turns of 4 KiB: every member compresses to a little over half its size,
    so both payloads make archives of the same size and carry the same weight in the installer's image."""
    parts, left = [], size
    take_text = rng.randrange(2)
    while left > 0:
        n = min(left, 4096)
        if take_text:
            start = rng.randrange(len(text) - n)
            parts.append(text[start:start + n])
        else:
            parts.append(rng.randbytes(n))
        take_text = not take_text
        left -= n
    return b"".join(parts)


def write(name, member_sizes, seed):
    path = os.path.join(work, name + ".zip")
    if os.path.exists(path):
        return
    rng = random.Random(seed)
    text = " ".join(rng.choice(WORDS) for _ in range(400_000)).encode()
    with zipfile.ZipFile(path + ".new", "w", compression=zipfile.ZIP_DEFLATED, compresslevel=6) as archive:
        for f in range(FOLDERS):
            archive.writestr(zipfile.ZipInfo("Folder%02d/" % f, (2024, 5, 1, 12, 0, 0)), b"")
        for i, size in enumerate(member_sizes):
            info = zipfile.ZipInfo("Folder%02d/member%04d.bin" % (rng.randrange(FOLDERS), i), (2024, 5, 1, 12, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, content(rng, text, size))
    os.rename(path + ".new", path)


rng = random.Random(1974)
files = MEMBERS - FOLDERS
write("small", sizes(rng, files, TOTAL, 512, 400_000), 1)
large = [110_000_000, 55_000_000] + sizes(rng, files - 2, TOTAL - 165_000_000, 512, 200_000)
rng.shuffle(large)
write("large", large, 2)
EOF

echo "bench: building setup programs that carry them ($arch)"
for kind in sample small large; do
  payload=""
  [ "$kind" = sample ] || payload="$work/$kind.zip"
  cmake -S "$root" -B "$work/product" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" -DGLIMMERLY_PAYLOAD_ZIP="$payload" >/dev/null
  cmake --build "$work/product" -j "$(nproc)" >/dev/null
  cp "$work/product/glimmerly-setup.exe" "$work/setup-$kind.exe"
done

echo "bench: measuring ($runs run(s) each)"
GLIMMERLY_WINE_ARCH=$arch GLIMMERLY_WINE_TEMPLATE="$work/wine-template" \
  python3 - "$root" "$work" "$runs" <<'EOF'
import os
import shutil
import statistics
import subprocess
import sys
import threading
import time
import zipfile

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


def timed(command, env=None, cwd=None):
    """Wall seconds, peak resident KiB (from the kernel) and peak private KiB (sampled) of one process."""
    anon = [0]
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
    return wall, usage.ru_maxrss, anon[0]


def expected_files(zip_path):
    with zipfile.ZipFile(zip_path) as archive:
        infos = [i for i in archive.infolist() if not i.is_dir()]
    return len(infos), sum(i.file_size for i in infos), len(archive.infolist())


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
    bench = p.host("C:\\bench")
    os.makedirs(bench)
    results = {}
    for kind in ["sample", "small", "large"]:
        shutil.copy(os.path.join(work, "setup-%s.exe" % kind), bench)
        zip_path = os.path.join(work, kind + ".zip") if kind != "sample" else None
        install, native = [], []
        for _ in range(runs if zip_path else 1):
            out = os.path.join(bench, "out")
            shutil.rmtree(out, ignore_errors=True)
            command = [winetest.WINE, "C:\\bench\\setup-%s.exe" % kind, "/silent", "/folder=C:\\bench\\out"]
            install.append(timed(command, env=env, cwd=bench))
            if os.path.exists(os.path.join(bench, "Glimmerly_Install.log")):
                sys.exit("bench: the installation of the %s payload failed (see C:\\bench\\Glimmerly_Install.log)" % kind)
            if zip_path:
                files, size, _ = expected_files(zip_path)
                got = tree(out)
                # The installer adds its settings file; the payload's files must all be there.
                if got[0] < files or got[1] < size:
                    sys.exit("bench: %s: %d files, %d bytes extracted; expected %d, %d" % (kind, *got, files, size))
                shutil.rmtree(out)
                native_out = os.path.join(work, "unzip-out")
                shutil.rmtree(native_out, ignore_errors=True)
                native.append(timed(["unzip", "-q", "-o", zip_path, "-d", native_out]))
                shutil.rmtree(native_out)
            shutil.rmtree(out, ignore_errors=True)
        results[kind] = (install, native)

    def median(values, index):
        return statistics.median(v[index] for v in values)

    base = median(results["sample"][0], 0)
    print()
    print("Wine start and installation of the small sample payload: %.2f s, peak resident %.0f MiB"
          % (base, median(results["sample"][0], 1) / 1024))
    print("%-7s %8s %6s %8s | %11s %9s %6s %10s | %12s %13s" % (
        "payload", "members", "MB", "zip MB", "installer s", "unzip s", "ratio", "net ratio", "peak RSS MiB",
        "peak anon MiB"))
    for kind in ["small", "large"]:
        install, native = results[kind]
        files, size, members = expected_files(os.path.join(work, kind + ".zip"))
        zip_mb = os.path.getsize(os.path.join(work, kind + ".zip")) / 1e6
        t_install, t_native = median(install, 0), median(native, 0)
        print("%-7s %8d %6.0f %8.0f | %11.2f %9.2f %6.2f %10.2f | %12.0f %13.0f" % (
            kind, members, size / 1e6, zip_mb, t_install, t_native, t_install / t_native,
            (t_install - base) / t_native, median(install, 1) / 1024, median(install, 2) / 1024))
    small_rss, large_rss = median(results["small"][0], 1), median(results["large"][0], 1)
    small_anon, large_anon = median(results["small"][0], 2), median(results["large"][0], 2)
    print("net ratio: the installer's time less that of the sample installation (Wine's start, the other")
    print("installation steps), against unzip's")
    print("peak memory, large against small: resident %+.1f %%, private %+.1f %%" % (
        100.0 * (large_rss - small_rss) / small_rss, 100.0 * (large_anon - small_anon) / small_anon))
finally:
    subprocess.run([winetest.WINESERVER, "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    p.close()
EOF

if [ "$keep" = 0 ]; then
  rm -f "$work"/small.zip "$work"/large.zip "$work"/setup-*.exe
fi
