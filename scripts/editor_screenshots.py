#!/usr/bin/env python3
"""Pictures of the trim editor for review.

Makes a real clip with ffmpeg inside a temporary HOME, starts the real program, opens the
trim editor on the clip and grabs the sheet, in light and dark.

usage: editor_screenshots.py BUILD_DIR OUT_DIR   (run under an X server, e.g. xvfb-run)
"""
import os
import shutil
import sys

from app_launch import Sandbox, capture, lavfi_clip, picture_arguments

CLIP = "Videos/Holidays/Beach.mp4"


def main() -> int:
    program, out = picture_arguments()
    if shutil.which("ffmpeg") is None:
        print("ffmpeg is missing: no editor pictures")
        return 1
    with Sandbox("lumenkite-editor-shots-") as box:
        clip = os.path.join(box.home, CLIP)
        if not lavfi_clip(clip, "testsrc2=size=1280x720:rate=25:duration=20",
                          ["-c:v", "libx264", "-preset", "ultrafast", "-g", "50", "-pix_fmt", "yuv420p"],
                          audio="sine=frequency=440:duration=20"):
            return 1
        failures = 0
        for language in ("en", "de"):
            box.settings(language)
            for appearance in ("light", "dark"):
                png = os.path.join(out, f"editor-{language}-{appearance}.png")
                # Light: the clip as it opens; dark: cut into a merge of three ranges.
                extra = ["--edit-cuts", "4,7,11,13,16"] if appearance == "dark" else []
                failures += not capture(program, png, ["--appearance", appearance, "--edit-video", clip, *extra],
                                        box.env)
        return 1 if failures else 0

if __name__ == "__main__":
    sys.exit(main())
