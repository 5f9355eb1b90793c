#!/usr/bin/env python3
"""The real program, built with sanitizers, driven through its usual surfaces.

Makes a small home of real clips (ffmpeg -f lavfi), then starts the program once per
surface: the library alone, clips selected and played (the platform player and libmpv),
every sheet and window it opens, the trim editor. Each run grabs its window and quits.
A run fails when the program does not exit cleanly or a sanitizer wrote a report.
The pictures are kept in PNG_DIR when one is given.

usage: asan-app.py BUILD_DIR [PNG_DIR]   (run under an X server, e.g. xvfb-run)
"""
import glob
import os
import shutil
import subprocess
import sys

from app_launch import Sandbox, lavfi_clip, program_path

# (file below ~/Videos, ffmpeg output arguments); .mkv, .webm and the name that is not
# UTF-8 play through libmpv, the rest through the platform player.
CLIPS = [
    ("Trips/a.mp4", ["-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac"]),
    ("Trips/b.mov", ["-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac"]),
    ("Trips/c.mkv", ["-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "libvorbis"]),
    ("Family/d.webm", ["-c:v", "libvpx", "-b:v", "200k", "-c:a", "libvorbis"]),
    ("Family/e.mp4", ["-c:v", "mpeg4", "-c:a", "aac"]),
]
RAW_NAME = b"Family/raw\xff.mp4"

# (name, arguments after the common ones; {v} is the Videos folder)
RUNS = [
    ("library", []),
    ("play-native", ["--select-video", "{v}/Trips/a.mp4", "--play"]),
    ("play-native-theater", ["--select-video", "{v}/Trips/b.mov", "--play", "--theater"]),
    ("play-mpv", ["--select-video", "{v}/Trips/c.mkv", "--play"]),
    ("play-mpv-webm", ["--select-video", "{v}/Family/d.webm", "--play"]),
    ("select-mpeg4", ["--select-video", "{v}/Family/e.mp4"]),
    ("palette", ["--show", "palette:trips"]),
    ("settings", ["--show", "settings"]),
    ("welcome", ["--show", "welcome"]),
    ("move", ["--select-video", "{v}/Trips/a.mp4", "--show", "move"]),
    ("duplicates", ["--show", "duplicates"]),
    ("insights", ["--show", "insights"]),
    ("compress", ["--select-video", "{v}/Trips/a.mp4", "--show", "compress"]),
    ("editor", ["--edit-video", "{v}/Trips/a.mp4", "--edit-cuts", "1"]),
]


def make_clips(videos: str) -> None:
    for name, codec in CLIPS:
        if not lavfi_clip(os.path.join(videos, name), "testsrc2=size=320x240:rate=25:duration=3", codec,
                          audio="sine=frequency=440:duration=3"):
            raise RuntimeError("cannot make " + name)
    shutil.copyfile(os.path.join(videos, "Trips/a.mp4").encode(), os.path.join(videos.encode(), RAW_NAME))


def logging_env(env: dict, logs: str) -> dict:
    """Reports go to files as well as failing the run, so none is lost in the output."""
    env = dict(env)
    for var in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
        options = [o for o in env.get(var, "").split(":") if o and not o.startswith("log_path=")]
        options.append("log_path=" + os.path.join(logs, var.split("_")[0].lower()))
        env[var] = ":".join(options)
    return env


def main() -> int:
    program = program_path(sys.argv[1])
    keep = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
    if keep:
        os.makedirs(keep, exist_ok=True)
    with Sandbox("lumenkite-asan-app-") as box:
        root, videos = box.root, box.videos
        logs = os.path.join(root, "logs")
        os.makedirs(logs)
        make_clips(videos)
        env = logging_env(box.env, logs)
        failures = 0
        for name, extra in RUNS:
            png = os.path.join(keep or root, name + ".png")
            if os.path.exists(png):
                os.remove(png)
            args = [program, "--capture-window", png] + [a.replace("{v}", videos) for a in extra]
            before = set(glob.glob(os.path.join(logs, "*")))
            try:
                result = subprocess.run(args, env=env, timeout=300,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                rc, output = result.returncode, result.stdout.decode(errors="replace")
            except subprocess.TimeoutExpired as e:
                rc, output = "timeout", (e.stdout or b"").decode(errors="replace")
            reports = sorted(set(glob.glob(os.path.join(logs, "*"))) - before)
            ok = rc == 0 and not reports and os.path.exists(png)
            print(f"{'ok    ' if ok else 'FAILED'} {name} (exit {rc}, {len(reports)} reports)", flush=True)
            if not ok:
                failures += 1
                print(output[-4000:])
                for report in reports:
                    with open(report, errors="replace") as f:
                        print(f.read())
        print(f"app under sanitizers: {len(RUNS) - failures} of {len(RUNS)} runs clean")
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
