#!/usr/bin/env python3
"""Pictures of the main window for review.

Builds a fixture library of a few hundred small video files in nested folders inside a
temporary HOME, then starts the real program once per language and appearance; each run
grabs its main window to a PNG in the output folder and quits.

usage: screenshots.py BUILD_DIR OUT_DIR   (run under an X server, e.g. xvfb-run)
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

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


def sandbox_env(home: str) -> dict:
    """The environment that runs the app on the fixture home only, on the X display."""
    env = dict(os.environ)
    env.update({
        "HOME": home,
        "XDG_CONFIG_HOME": os.path.join(home, ".config"),
        "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
        "XDG_CACHE_HOME": os.path.join(home, ".cache"),
        "XDG_VIDEOS_DIR": os.path.join(home, "Videos"),
        "LANG": "C.UTF-8",
        "QT_QPA_PLATFORM": "xcb",
    })
    env.pop("LUMENKITE_CAPTURE_DIR", None)
    return env


def write_settings(config_home: str, language: str) -> None:
    folder = os.path.join(config_home, "Lumenkite")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "Lumenkite.conf"), "w") as f:
        f.write("[General]\n")
        f.write(f"Lumenkite.language={language}\n")
        f.write("Lumenkite.hasCompletedOnboarding=true\n")


def capture(program: str, png: str, args: list, env: dict, timeout: int = 120) -> bool:
    """Starts the program once to grab its window into png and says whether the picture was written."""
    if os.path.exists(png):
        os.remove(png)
    result = subprocess.run([program, "--capture-window", png, *args], env=env, timeout=timeout)
    ok = result.returncode == 0 and os.path.exists(png)
    print(("wrote " if ok else "FAILED ") + png)
    return ok


def main() -> int:
    build, out = sys.argv[1], sys.argv[2]
    program = os.path.abspath(os.path.join(build, "src", "app", "lumenkite"))
    out = os.path.abspath(out)
    os.makedirs(out, exist_ok=True)
    root = tempfile.mkdtemp(prefix="lumenkite-shots-")
    try:
        home = os.path.join(root, "home")
        count = make_library(home)
        print(f"fixture library: {count} videos in {home}")
        failures = 0
        for language in LANGUAGES:
            for appearance in APPEARANCES:
                env = sandbox_env(home)
                write_settings(env["XDG_CONFIG_HOME"], language)
                png = os.path.join(out, f"main-{language}-{appearance}.png")
                failures += not capture(program, png, ["--appearance", appearance], env)
        for name, language, appearance, size in SMALL_WINDOWS:
            env = sandbox_env(home)
            write_settings(env["XDG_CONFIG_HOME"], language)
            png = os.path.join(out, f"{name}.png")
            failures += not capture(program, png, ["--appearance", appearance, "--window-size", size], env)
        for name, language, appearance, surface in SURFACES:
            env = sandbox_env(home)
            write_settings(env["XDG_CONFIG_HOME"], language)
            png = os.path.join(out, f"{name}.png")
            failures += not capture(program, png, ["--appearance", appearance, "--show", surface], env)
        return 1 if failures else 0
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
