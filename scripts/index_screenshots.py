#!/usr/bin/env python3
"""Pictures of the on-device search from the model download to a search over indexed clips.

Makes a home of real generated clips (some with large words drawn into the picture), serves
the small test model and the vocabulary from a loopback HTTP server that the model host
settings point at, then starts the real program once per state, drives it through the
window's own buttons and grabs the main window when the state is reached:
model not installed (en, ja, de), download in progress, a failed download after its toast,
model installed by that download,
indexing in progress (sidebar card and search banner), indexing done, and a visual search
that finds a clip by the words in its picture.

usage: index_screenshots.py BUILD_DIR OUT_DIR   (run under an X server, e.g. xvfb-run)
"""
import http.server
import json
import os
import shutil
import socket
import struct
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from app_launch import Sandbox, capture, lavfi_clip, picture_arguments  # noqa: E402

FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared", "clip-fixtures")
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
SOURCES = ["testsrc2", "smptebars", "mandelbrot", "rgbtestsrc", "cellauto:rule=110", "life:mold=10:ratio=0.3"]
# Dark words on a light box over colour bars: Tesseract's page layout reads these, while the
# same box over a full-frame gradient or busy pattern is often taken for a picture.
WORDS = {1: "LIGHTHOUSE", 13: "HARBOUR MARKET", 25: "BIRTHDAY PARTY", 37: "GATE 12"}
FOLDERS = ["Videos/Holidays/2024 Coast", "Videos/Family/Birthdays", "Videos/Screen Recordings", "Videos/Drone"]
CLIPS = 60


def make_clip(i: int, home: str) -> str:
    path = os.path.join(home, FOLDERS[i % len(FOLDERS)], f"clip_{i + 1:03d}.mp4")
    source = SOURCES[i % len(SOURCES)]
    name, _, extra = source.partition(":")
    graph = f"{name}=size=640x360:rate=10{':' + extra if extra else ''},trim=duration={6 + i % 5},setpts=PTS-STARTPTS"
    words = ""
    if i in WORDS:
        words = (f"drawtext=fontfile={FONT}:text='{WORDS[i]}':fontsize=64:fontcolor=black:box=1:"
                 "boxcolor=white:boxborderw=18:x=(w-tw)/2:y=(h-th)/2")
    if not lavfi_clip(path, graph, ["-c:v", "libx264", "-pix_fmt", "yuv420p"], filters=words):
        raise RuntimeError("cannot make " + path)
    return path


def model_with_heads(out: str) -> None:
    """The test model with its text head count in the header, as the fuse step needs for a
    width other than the published one. The tensor data is unchanged."""
    with open(os.path.join(FIXTURES, "tiny-mobileclip.safetensors"), "rb") as f:
        length = struct.unpack("<Q", f.read(8))[0]
        header = json.loads(f.read(length))
        data = f.read()
    header.setdefault("__metadata__", {})["lumenkite.text_heads"] = "2"
    raw = json.dumps(header, separators=(",", ":")).encode()
    raw += b" " * (-len(raw) % 8)
    with open(out, "wb") as f:
        f.write(struct.pack("<Q", len(raw)) + raw + data)


class Server:
    """Serves the files of one folder by their base name; `slow` spreads each body over seconds."""

    def __init__(self, folder: str):
        self.slow = False
        owner = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                path = os.path.join(folder, os.path.basename(self.path))
                if not os.path.isfile(path):
                    self.send_error(404)
                    return
                with open(path, "rb") as f:
                    body = f.read()
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                step = 64 * 1024
                try:
                    for start in range(0, len(body), step):
                        self.wfile.write(body[start:start + step])
                        if owner.slow:
                            time.sleep(0.15)
                except (BrokenPipeError, ConnectionResetError):
                    pass

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()
        self.url = f"http://127.0.0.1:{self.httpd.server_address[1]}"


def main() -> int:
    program, out = picture_arguments()
    if shutil.which("ffmpeg") is None or not os.path.isdir(FIXTURES):
        print("ffmpeg or the CLIP fixtures are missing: no indexing pictures")
        return 1
    failures = 0
    with Sandbox("lumenkite-index-shots-") as box:
        root, home = box.root, box.home
        with ThreadPoolExecutor(max_workers=6) as pool:
            list(pool.map(lambda i: make_clip(i, home), range(CLIPS)))
        served = os.path.join(root, "served")
        os.makedirs(served)
        model_with_heads(os.path.join(served, "open_clip_model.safetensors"))
        shutil.copy(os.path.join(FIXTURES, "bpe_simple_vocab_16e6.txt.gz"), served)
        server = Server(served)
        models = os.path.join(box.data_home, "Lumenkite", "Models")
        probe = socket.socket()
        probe.bind(("127.0.0.1", 0))
        offline = f"http://127.0.0.1:{probe.getsockname()[1]}"
        probe.close()

        # (picture, language, appearance, slow server, --show actions, state to wait for)
        runs = [
            ("index-model-missing-en-light", "en", "light", False, ["aisearch:"], ""),
            ("index-model-missing-ja-dark", "ja", "dark", False, ["aisearch:"], ""),
            ("index-model-missing-de-light", "de", "light", False, ["aisearch:"], ""),
            ("index-model-downloading-en-light", "en", "light", True,
             ["click:ai.download", "aisearch:"], "downloading"),
            ("index-download-failed-de-light", "de", "light", False, ["click:ai.download"], "downloadFailed"),
            ("index-model-installed-en-light", "en", "light", False, ["click:ai.download"], "installed"),
            ("index-running-en-light", "en", "light", False, ["click:ai.index", "aisearch:"], "indexing"),
            ("index-done-en-dark", "en", "dark", False, ["click:ai.index"], "indexed"),
            ("index-search-en-light", "en", "light", False, ["aisearch:lighthouse"], "searched"),
        ]
        for name, language, appearance, slow, actions, when in runs:
            server.slow = slow
            # The failed download's host is a port nothing listens on, as offline.
            base = offline if when == "downloadFailed" else server.url
            box.settings(language, f"\n[models]\nmodelBaseURL={base}\nvocabularyBaseURL={base}\n")
            args = ["--appearance", appearance]
            for a in actions:
                args += ["--show", a]
            if when:
                args += ["--capture-when", when]
            failures += not capture(program, os.path.join(out, f"{name}.png"), args, box.env, 300)
            if name == "index-model-installed-en-light":
                installed = sorted(os.listdir(models)) if os.path.isdir(models) else []
                print("installed items:", ", ".join(installed))
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
