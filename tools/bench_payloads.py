"""The two synthetic payloads of the extraction benchmark (tools/bench-extract.sh): small.zip, of small
members only, and large.zip, whose largest member is over 100 MB; about 200 MB in about 2,000 members each.
An archive already there is kept.

usage: python3 bench_payloads.py WORK   writes WORK/small.zip and WORK/large.zip
"""
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
