#!/usr/bin/env python3
"""Pictures of the program without ffmpeg, ffprobe, libmpv and the CLIP helper.

Makes a native MP4 and an MKV in a temporary HOME, then starts the real program with an empty
PATH and LUMENKITE_HIDE_TOOLS naming all four: just after the start (the toast naming what is
missing), with the MKV selected (the card says why it does not play) and with the settings open.

usage: missing_tools_screenshots.py BUILD_DIR OUT_DIR   (run under an X server, e.g. xvfb-run)
"""
import os
import shutil
import subprocess
import sys
import tempfile

from screenshots import capture, sandbox_env


def main() -> int:
    build, out = sys.argv[1], os.path.abspath(sys.argv[2])
    program = os.path.abspath(os.path.join(build, "src", "app", "lumenkite"))
    os.makedirs(out, exist_ok=True)
    root = tempfile.mkdtemp(prefix="lumenkite-missing-tools-shots-")
    try:
        home = os.path.join(root, "home")
        clips = os.path.join(home, "Videos", "Holidays")
        os.makedirs(clips)
        for name in ("Beach.mp4", "Harbour.mkv"):
            if subprocess.run(["ffmpeg", "-y", "-v", "error", "-f", "lavfi", "-i",
                               "smptebars=size=640x360:rate=25:duration=4", "-c:v", "libx264", "-pix_fmt", "yuv420p",
                               os.path.join(clips, name)]).returncode != 0:
                print("FAILED to make " + name)
                return 1
        config = os.path.join(home, ".config", "Lumenkite")
        os.makedirs(config)
        with open(os.path.join(config, "Lumenkite.conf"), "w") as f:
            f.write("[General]\nLumenkite.language=en\nLumenkite.hasCompletedOnboarding=true\n")
        empty = os.path.join(root, "bin")
        os.makedirs(empty)
        env = sandbox_env(home)
        env.update({"PATH": empty, "LD_LIBRARY_PATH": empty,
                    "LUMENKITE_HIDE_TOOLS": "ffmpeg,ffprobe,libmpv,clip-helper"})
        failures = 0
        for stem, extra in (("missing-tools-start", []),
                            ("missing-tools-mkv", ["--select-video", os.path.join(clips, "Harbour.mkv")]),
                            ("missing-tools-settings", ["--show", "settings"])):
            png = os.path.join(out, stem + ".png")
            failures += not capture(program, png, ["--appearance", "light", *extra], env)
        return 1 if failures else 0
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
