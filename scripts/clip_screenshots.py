#!/usr/bin/env python3
"""Pictures of the sidebar's on-device search card with and without installed CLIP models.

Installs the small test model the way the app installs the published one (folded per-tower
files and the merges file in ~/.local/share/Lumenkite/Models of a temporary HOME), starts
the real program and grabs its main window; then again without the models.

usage: clip_screenshots.py BUILD_DIR OUT_DIR   (run under an X server, e.g. xvfb-run)
"""
import gzip
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from app_launch import Sandbox, capture, picture_arguments  # noqa: E402
from screenshots import make_library  # noqa: E402

FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared", "clip-fixtures")


def install_models(build: str, models: str) -> None:
    os.makedirs(models, exist_ok=True)
    helper = os.path.join(build, "src", "clip", "lumenkite-clip")
    subprocess.run([helper, "fuse", "--model", os.path.join(FIXTURES, "tiny-mobileclip.safetensors"),
                    "--heads", "2", "--out", models], check=True)
    with gzip.open(os.path.join(FIXTURES, "bpe_simple_vocab_16e6.txt.gz"), "rb") as src, \
            open(os.path.join(models, "bpe_simple_vocab_16e6.txt"), "wb") as dst:
        shutil.copyfileobj(src, dst)


def main() -> int:
    build = os.path.abspath(sys.argv[1])
    program, out = picture_arguments()
    failures = 0
    with Sandbox("lumenkite-clip-shots-") as box:
        make_library(box.home)
        models = os.path.join(box.data_home, "Lumenkite", "Models")
        for name, installed in (("clip-models-installed", True), ("clip-models-missing", False)):
            shutil.rmtree(models, ignore_errors=True)
            if installed:
                install_models(build, models)
            png = os.path.join(out, f"{name}.png")
            failures += not capture(program, png, ["--appearance", "light"], box.env, 180)
        return 1 if failures else 0

if __name__ == "__main__":
    sys.exit(main())
