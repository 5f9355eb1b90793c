#!/usr/bin/env python3
"""Pictures of the trim editor for review.

Makes a real clip with ffmpeg inside a temporary HOME, starts the real program, opens the
trim editor on the clip and grabs the sheet, in light and dark.

usage: editor_screenshots.py BUILD_DIR OUT_DIR   (run under an X server, e.g. xvfb-run)
"""
import os
import shutil
import subprocess
import sys
import tempfile

from screenshots import capture, sandbox_env

CLIP = "Videos/Holidays/Beach.mp4"


def main() -> int:
    build, out = sys.argv[1], sys.argv[2]
    program = os.path.abspath(os.path.join(build, "src", "app", "lumenkite"))
    out = os.path.abspath(out)
    os.makedirs(out, exist_ok=True)
    if shutil.which("ffmpeg") is None:
        print("ffmpeg is missing: no editor pictures")
        return 1
    root = tempfile.mkdtemp(prefix="lumenkite-editor-shots-")
    try:
        home = os.path.join(root, "home")
        clip = os.path.join(home, CLIP)
        os.makedirs(os.path.dirname(clip), exist_ok=True)
        args = ["ffmpeg", "-y", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25:duration=20",
                "-f", "lavfi", "-i", "sine=frequency=440:duration=20", "-c:v", "libx264", "-preset", "ultrafast",
                "-g", "50", "-pix_fmt", "yuv420p", "-shortest", clip]
        if subprocess.run(args).returncode != 0:
            print("FAILED to make " + CLIP)
            return 1
        config = os.path.join(home, ".config", "Lumenkite")
        os.makedirs(config, exist_ok=True)
        failures = 0
        for language in ("en", "de"):
            with open(os.path.join(config, "Lumenkite.conf"), "w") as f:
                f.write(f"[General]\nLumenkite.language={language}\nLumenkite.hasCompletedOnboarding=true\n")
            for appearance in ("light", "dark"):
                png = os.path.join(out, f"editor-{language}-{appearance}.png")
                # Light: the clip as it opens; dark: cut into a merge of three ranges.
                extra = ["--edit-cuts", "4,7,11,13,16"] if appearance == "dark" else []
                failures += not capture(program, png, ["--appearance", appearance, "--edit-video", clip, *extra],
                                        sandbox_env(home))
        return 1 if failures else 0
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
