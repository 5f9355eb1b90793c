#!/usr/bin/env python3
"""Pictures of the program without ffmpeg, ffprobe, libmpv and the CLIP helper.

Makes a native MP4 and an MKV in a temporary HOME, then starts the real program with an empty
PATH and LUMENKITE_HIDE_TOOLS naming all four: just after the start (the toast naming what is
missing), with the MKV selected (the card says why it does not play) and with the settings open.

usage: missing_tools_screenshots.py BUILD_DIR OUT_DIR   (run under an X server, e.g. xvfb-run)
"""
import os
import sys

from app_launch import Sandbox, capture, lavfi_clip, picture_arguments


def main() -> int:
    program, out = picture_arguments()
    with Sandbox("lumenkite-missing-tools-shots-") as box:
        clips = os.path.join(box.videos, "Holidays")
        for name in ("Beach.mp4", "Harbour.mkv"):
            if not lavfi_clip(os.path.join(clips, name), "smptebars=size=640x360:rate=25:duration=4",
                              ["-c:v", "libx264", "-pix_fmt", "yuv420p"]):
                return 1
        empty = os.path.join(box.root, "bin")
        os.makedirs(empty)
        env = dict(box.env, PATH=empty, LD_LIBRARY_PATH=empty, LUMENKITE_HIDE_TOOLS="ffmpeg,ffprobe,libmpv,clip-helper")
        failures = 0
        for stem, extra in (("missing-tools-start", []),
                            ("missing-tools-mkv", ["--select-video", os.path.join(clips, "Harbour.mkv")]),
                            ("missing-tools-settings", ["--show", "settings"])):
            png = os.path.join(out, stem + ".png")
            failures += not capture(program, png, ["--appearance", "light", *extra], env)
        return 1 if failures else 0

if __name__ == "__main__":
    sys.exit(main())
