#!/usr/bin/env python3
"""Writes the ten icons of the sample viewer, viewer_0.ico to viewer_9.ico, into a folder."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from make_art import frame_icon, ico_bytes  # noqa: E402

# (frame, picture) colours; index 0 is the program icon, 7 thumbnails, 8 audio, 9 video.
COLOURS = [
    ((200, 150, 40), (90, 150, 220)),
    ((190, 40, 40), (240, 200, 200)),
    ((230, 120, 20), (250, 220, 150)),
    ((40, 140, 60), (180, 230, 180)),
    ((20, 140, 140), (170, 230, 230)),
    ((40, 70, 190), (170, 190, 250)),
    ((120, 50, 160), (220, 190, 240)),
    ((90, 90, 90), (210, 210, 210)),
    ((200, 60, 150), (250, 200, 230)),
    ((30, 30, 30), (120, 120, 200)),
]


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icons.py OUTPUT_FOLDER")
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for index, (frame, picture) in enumerate(COLOURS):
        images = [(size, frame_icon(size, frame, picture)) for size in (16, 32)]
        with open(os.path.join(folder, "viewer_%d.ico" % index), "wb") as f:
            f.write(ico_bytes(images))


if __name__ == "__main__":
    main()
