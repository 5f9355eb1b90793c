#!/usr/bin/env python3
"""Pictures of the inspector with a selected clip for review.

Makes a small library of real clips with ffmpeg inside a temporary HOME, then starts the
real program with one clip selected: a natively played MP4 and an MKV played by libmpv,
each in light and dark, and both again in the theater layout.

usage: inspector_screenshots.py BUILD_DIR OUT_DIR   (run under an X server, e.g. xvfb-run)
"""
import os
import shutil
import subprocess
import sys
import tempfile

from screenshots import sandbox_env

CLIPS = [
    ("native", "Videos/Holidays/Beach.mp4", ["-c:v", "libx264", "-pix_fmt", "yuv420p"]),
    ("libmpv", "Videos/Holidays/Harbour.mkv", ["-c:v", "libx264", "-pix_fmt", "yuv420p"]),
]


def make_clip(path: str, codec_args: list) -> bool:
    os.makedirs(os.path.dirname(path), exist_ok=True)
    args = ["ffmpeg", "-y", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25:duration=8",
            "-f", "lavfi", "-i", "sine=frequency=440:duration=8", *codec_args, "-shortest", path]
    return subprocess.run(args).returncode == 0


def main() -> int:
    build, out = sys.argv[1], sys.argv[2]
    program = os.path.abspath(os.path.join(build, "src", "app", "lumenkite"))
    out = os.path.abspath(out)
    os.makedirs(out, exist_ok=True)
    if shutil.which("ffmpeg") is None:
        print("ffmpeg is missing: no inspector pictures")
        return 1
    root = tempfile.mkdtemp(prefix="lumenkite-inspector-shots-")
    try:
        home = os.path.join(root, "home")
        for _, rel, codec in CLIPS:
            if not make_clip(os.path.join(home, rel), codec):
                print("FAILED to make " + rel)
                return 1
        swapped = os.path.join(home, "Videos/Holidays/Swapped.mp4")
        if not make_clip(swapped, ["-c:v", "libx264", "-pix_fmt", "yuv420p"]):
            return 1
        config = os.path.join(home, ".config", "Lumenkite")
        os.makedirs(config, exist_ok=True)
        with open(os.path.join(config, "Lumenkite.conf"), "w") as f:
            f.write("[General]\nLumenkite.language=en\nLumenkite.hasCompletedOnboarding=true\n")
        env = sandbox_env(home)
        failures = 0
        for name, rel, _ in CLIPS:
            for theater in (False, True):
                for appearance in ("light", "dark"):
                    stem = f"inspector-{name}{'-theater' if theater else ''}-{appearance}"
                    png = os.path.join(out, stem + ".png")
                    if os.path.exists(png):
                        os.remove(png)
                    args = [program, "--capture-window", png, "--appearance", appearance,
                            "--select-video", os.path.join(home, rel)]
                    if theater:
                        args.append("--theater")
                    result = subprocess.run(args, env=env, timeout=120)
                    ok = result.returncode == 0 and os.path.exists(png)
                    print(("wrote " if ok else "FAILED ") + png)
                    failures += not ok
        # The clip listed by the scans above has become a FIFO: selected from the cached
        # list, the card says it cannot be played and the window goes on drawing (a reader
        # that opened it would block for good).
        os.remove(swapped)
        os.mkfifo(swapped)
        png = os.path.join(out, "inspector-fifo-light.png")
        if os.path.exists(png):
            os.remove(png)
        result = subprocess.run([program, "--capture-window", png, "--appearance", "light", "--select-video", swapped],
                                env=env, timeout=120)
        ok = result.returncode == 0 and os.path.exists(png)
        print(("wrote " if ok else "FAILED ") + png)
        failures += not ok
        return 1 if failures else 0
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
