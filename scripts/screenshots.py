#!/usr/bin/env python3
"""Pictures of the main window for review.

Builds a fixture library of a few hundred small video files in nested folders inside a
temporary HOME, then starts the real program once per language and appearance; each run
grabs its main window to a PNG in the output folder and quits.

usage: screenshots.py BUILD_DIR OUT_DIR   (run under an X server, e.g. xvfb-run)
"""
import os
import random
import sys
import time

from app_launch import Sandbox, capture, picture_arguments

LANGUAGES = ["en", "ja", "de"]

# (name, language, appearance, what the program opens over its window)
SURFACES = [
    ("palette-en-light", "en", "light", "palette"),
    ("palette-en-dark", "en", "dark", "palette:kyoto"),
    ("settings-en-light", "en", "light", "settings"),
    ("settings-ja-dark", "ja", "dark", "settings"),
    ("welcome-en-light", "en", "light", "welcome"),
    ("welcome-de-dark", "de", "dark", "welcome"),
    ("compress-en-light", "en", "light", "compress"),
    ("compress-ja-dark", "ja", "dark", "compress"),
    ("compress-de-light", "de", "light", "compress"),
]
APPEARANCES = ["light", "dark"]
# The longest texts at the smallest window: (name, language, appearance, window size asked
# for; the window keeps the minimum its panes need).
SMALL_WINDOWS = [
    ("main-de-light-smallest", "de", "light", "960x620"),
    ("main-de-dark-smallest", "de", "dark", "960x620"),
    ("main-ja-light-smallest", "ja", "light", "960x620"),
]

# (folder, count, extensions) below the XDG videos folder and a few other home folders.
LAYOUT = [
    ("Videos/Holidays/2023 Japan/Kyoto", 34, ["mp4", "mov"]),
    ("Videos/Holidays/2023 Japan/Tokyo", 41, ["mp4", "mov", "mkv"]),
    ("Videos/Holidays/2024 Alps", 27, ["mov", "m4v"]),
    ("Videos/Family/Birthdays", 22, ["mp4", "avi"]),
    ("Videos/Family/School Plays/2022", 15, ["mp4", "wmv"]),
    ("Videos/Projects/Drone/Raw", 48, ["mov", "mkv", "mxf"]),
    ("Videos/Projects/Drone/Exports", 12, ["mp4", "webm"]),
    ("Videos/Screen Recordings", 30, ["webm", "mp4"]),
    ("Downloads/Clips", 25, ["mkv", "flv", "ts", "webm"]),
    ("Desktop/Edit", 9, ["mov", "mp4"]),
    ("Documents/Archive/Old Camera/DCIM/100MEDIA", 36, ["avi", "3gp", "mpg", "vob"]),
]


def make_library(home: str) -> int:
    rng = random.Random(7)
    now = time.time()
    total = 0
    for folder, count, exts in LAYOUT:
        path = os.path.join(home, folder)
        os.makedirs(path, exist_ok=True)
        for i in range(count):
            ext = exts[i % len(exts)]
            name = f"{os.path.basename(folder).replace(' ', '_')}_{i + 1:03d}.{ext}"
            full = os.path.join(path, name)
            # Sparse files: real sizes without using the disk.
            size = rng.choice([rng.randint(2, 90), rng.randint(90, 900), rng.randint(900, 4000)]) * 1024 * 256
            if rng.random() < 0.06:
                size = rng.randint(300, 2400) * 1024 * 1024
            with open(full, "wb") as f:
                f.truncate(size)
            age_days = rng.choice([rng.uniform(0, 25), rng.uniform(30, 900)])
            stamp = now - age_days * 86400
            os.utime(full, (stamp, stamp))
            total += 1
    return total


def main() -> int:
    program, out = picture_arguments()
    with Sandbox("lumenkite-shots-") as box:
        count = make_library(box.home)
        print(f"fixture library: {count} videos in {box.home}")
        failures = 0
        for language in LANGUAGES:
            for appearance in APPEARANCES:
                box.settings(language)
                png = os.path.join(out, f"main-{language}-{appearance}.png")
                failures += not capture(program, png, ["--appearance", appearance], box.env)
        for name, language, appearance, size in SMALL_WINDOWS:
            box.settings(language)
            png = os.path.join(out, f"{name}.png")
            failures += not capture(program, png, ["--appearance", appearance, "--window-size", size], box.env)
        for name, language, appearance, surface in SURFACES:
            box.settings(language)
            png = os.path.join(out, f"{name}.png")
            failures += not capture(program, png, ["--appearance", appearance, "--show", surface], box.env)
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
