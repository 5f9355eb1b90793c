#!/usr/bin/env python3
"""Pictures of the inspector with a selected clip for review.

Makes a small library of real clips with ffmpeg inside a temporary HOME, then starts the
real program with one clip selected: a natively played MP4, an MKV played by libmpv and a
phone clip turned by its track header, each in light and dark, and again in the theater layout.

usage: inspector_screenshots.py BUILD_DIR OUT_DIR   (run under an X server, e.g. xvfb-run)
"""
import json
import os
import shutil
import subprocess
import sys

from app_launch import Sandbox, capture, lavfi_clip, picture_arguments

CLIPS = [
    ("native", "Videos/Holidays/Beach.mp4", ["-c:v", "libx264", "-pix_fmt", "yuv420p"]),
    ("libmpv", "Videos/Holidays/Harbour.mkv", ["-c:v", "libx264", "-pix_fmt", "yuv420p"]),
    # A phone clip: the picture stored on its side, the track header turns it upright.
    ("phone", "Videos/Holidays/Portrait.mp4", ["-c:v", "libx264", "-pix_fmt", "yuv420p", "turned"]),
]


def make_clip(path: str, codec_args: list) -> bool:
    # Colour bars with a label in the top-left corner: a picture shown upside down or
    # mirrored is plain to see.
    font = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
    label = f",drawtext=fontfile={font}:text=TOP LEFT:fontcolor=black:fontsize=h/8:x=w/30:y=h/30" \
        if os.path.exists(font) else ""
    if not lavfi_clip(path, "smptebars=size=1280x720:rate=25:duration=8",
                      [a for a in codec_args if a != "turned"], audio="sine=frequency=440:duration=8",
                      filters="drawbox=x=0:y=0:w=iw/3:h=ih/4:color=white:t=fill" + label):
        return False
    if "turned" not in codec_args:
        return True
    # A display matrix of -90, as phones write: the rotation goes into the track header on
    # a copy (this ffmpeg drops it when encoding).
    flat = path + ".flat.mp4"
    os.replace(path, flat)
    ok = subprocess.run(["ffmpeg", "-y", "-v", "error", "-i", flat, "-c", "copy", "-metadata:s:v:0", "rotate=-90",
                         path]).returncode == 0
    os.remove(flat)
    return ok


def write_visual_index(folder: str, video_id: str) -> None:
    """An index file with a sound record for `video_id` and a record that lacks a member."""
    import base64
    import json
    embedding = {"scale": 0.0078125, "data": base64.b64encode(bytes(range(64))).decode()}
    entry = {
        "videoID": video_id, "fileSize": os.path.getsize(video_id), "modifiedTimestamp": 1700000000,
        "clipEmbeddings": [embedding],
        "frameMoments": [{"timestamp": 1.0, "clipEmbedding": embedding, "ocrText": "GATE 12"}],
        "labelsEN": {"beach": 0.91, "sea_shore": 0.64, "outdoor": 0.4, "sky": 0.3, "boat": 0.2},
        "displayTagsTR": ["plaj", "deniz"], "captionTR": "Plajda bir gün", "ocrText": "GATE 12 BOARDING",
        "detectedFaces": 0, "engineUsed": "MobileCLIP-S2 + Live Text",
    }
    broken = dict(entry, videoID="/elsewhere/broken.mp4")
    del broken["captionTR"]
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "visual_index_v4.json"), "w") as f:
        json.dump({"/elsewhere/broken.mp4": broken, video_id: entry}, f, ensure_ascii=False)


def write_search_hits(home: str, env: dict, scene: str, talk: str) -> bool:
    """The small test model installed, a scene clip whose keyframes carry the embedding of the
    words "lighthouse" (as a picture of one would) and a transcript of the talking clip: a
    visual search for either word lists the clip with its moments."""
    import base64
    fixtures = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared", "clip-fixtures")
    helper = os.path.join(os.path.dirname(program_path), "..", "clip", "lumenkite-clip")
    data = os.path.join(env["XDG_DATA_HOME"], "Lumenkite")
    models = os.path.join(data, "Models")
    os.makedirs(models, exist_ok=True)
    tiny = os.path.join(fixtures, "tiny-mobileclip.safetensors")
    vocab = os.path.join(models, "bpe_simple_vocab_16e6.txt")
    with open(vocab, "wb") as f:
        if subprocess.run(["gzip", "-dc", os.path.join(fixtures, "bpe_simple_vocab_16e6.txt.gz")], stdout=f).returncode:
            return False
    if subprocess.run([helper, "fuse", "--model", tiny, "--heads", "2", "--out", models]).returncode:
        return False
    vector = [0.0]
    for text in ("lighthouse", "a photo of lighthouse"):
        run = subprocess.run([helper, "embed", "--model", tiny, "--heads", "2", "--vocab", vocab, "--text", text],
                             capture_output=True, text=True)
        if run.returncode:
            return False
        line = next((l for l in run.stdout.splitlines() if l.startswith("[")), "")
        values = [float(x) for x in line.strip("[]").split(",") if x.strip()]
        if not values:
            return False
        vector = [a + b for a, b in zip(values, vector)] if len(vector) == len(values) else values
    top = max(abs(x) for x in vector) or 1.0
    step = top / 127
    data_bytes = bytes((int(round(x / step)) & 0xFF) for x in vector)
    embedding = {"scale": step, "data": base64.b64encode(data_bytes).decode()}
    st = os.stat(scene)
    entry = {
        "videoID": scene, "fileSize": st.st_size, "modifiedTimestamp": round(st.st_mtime),
        "clipEmbeddings": [embedding, embedding],
        "frameMoments": [{"timestamp": 1.0, "clipEmbedding": embedding, "ocrText": ""},
                         {"timestamp": 5.0, "clipEmbedding": embedding, "ocrText": ""}],
        "labelsEN": {}, "displayTagsTR": [], "captionTR": "MobileCLIP görsel vektörü hazır", "ocrText": "",
        "detectedFaces": 0, "engineUsed": "MobileCLIP-S2 + Tesseract",
    }
    with open(os.path.join(data, "visual_index_v4.json"), "w") as f:
        json.dump({scene: entry}, f)
    st = os.stat(talk)
    transcript = {"videoID": talk, "fileSize": st.st_size, "modifiedTimestamp": round(st.st_mtime),
                  "localeIdentifier": "en_US", "fullText": "the weather today is sunny. the weather tomorrow",
                  "segments": [{"start": 1.5, "text": "the weather today is sunny"},
                               {"start": 6.0, "text": "the weather tomorrow"}]}
    with open(os.path.join(data, "speech_transcripts_v1.json"), "w") as f:
        json.dump({talk: transcript}, f)
    return True


program_path = ""


def main() -> int:
    program, out = picture_arguments()
    global program_path
    program_path = program
    if shutil.which("ffmpeg") is None:
        print("ffmpeg is missing: no inspector pictures")
        return 1
    with Sandbox("lumenkite-inspector-shots-") as box:
        home = box.home
        for _, rel, codec in CLIPS:
            if not make_clip(os.path.join(home, rel), codec):
                return 1
        swapped = os.path.join(home, "Videos/Holidays/Swapped.mp4")
        if not make_clip(swapped, ["-c:v", "libx264", "-pix_fmt", "yuv420p"]):
            return 1
        failures = 0
        for name, rel, _ in CLIPS:
            for theater in (False, True):
                for appearance in ("light", "dark"):
                    stem = f"inspector-{name}{'-theater' if theater else ''}-{appearance}"
                    args = ["--appearance", appearance, "--select-video", os.path.join(home, rel)]
                    if theater:
                        args.append("--theater")
                    failures += not capture(program, os.path.join(out, stem + ".png"), args, box.env)
        # The visual index as a previous run left it, one record damaged: the others load
        # and the inspector shows their labels and on-screen text.
        beach = os.path.normpath(os.path.join(home, CLIPS[0][1]))
        write_visual_index(os.path.join(box.data_home, "Lumenkite"), beach)
        png = os.path.join(out, "inspector-indexed-light.png")
        failures += not capture(program, png, ["--appearance", "light", "--select-video", beach], box.env)
        # The clip listed by the scans above has become a FIFO: selected from the cached
        # list, the card says it cannot be played and the window goes on drawing (a reader
        # that opened it would block for good).
        os.remove(swapped)
        os.mkfifo(swapped)
        png = os.path.join(out, "inspector-fifo-light.png")
        failures += not capture(program, png, ["--appearance", "light", "--select-video", swapped], box.env)
        # A scene hit and a speech hit of a visual search, each with a chip per moment.
        scene = os.path.normpath(os.path.join(home, CLIPS[0][1]))
        talk = os.path.normpath(os.path.join(home, CLIPS[1][1]))
        if not write_search_hits(home, box.env, scene, talk):
            print("FAILED to write the search fixtures")
            return 1
        for name, words, clip in (("scene", "lighthouse", scene), ("speech", "weather", talk)):
            png = os.path.join(out, f"inspector-moments-{name}-light.png")
            failures += not capture(program, png, ["--appearance", "light", "--show", f"aisearch:{words}",
                                                   "--select-video", clip, "--capture-when", "searched"], box.env)
        return 1 if failures else 0

if __name__ == "__main__":
    sys.exit(main())
