#!/usr/bin/env python3
"""Checks the program as a user's machine gets it.

install: installs the build into a scratch DESTDIR (prefix /usr), validates the installed
  desktop entry and metainfo, checks the icon sizes, then starts the installed program under
  the X display with a scratch HOME over a few generated clips and the small test model,
  indexes them, and makes sure the CLIP helper it started is the one under libexec.
package: builds the Debian package with the build's CPack configuration and checks that
  `dpkg-deb -c` lists the installed files.

usage: install-check.py BUILD_DIR APP_ID ICON_SIZES install|package   (ICON_SIZES: "48;64;...")
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from clip_screenshots import install_models  # noqa: E402
from app_launch import lavfi_clip, sandbox_env, write_settings  # noqa: E402


def expected_files(app_id: str, sizes: list) -> list:
    files = ["usr/bin/lumenkite", "usr/libexec/lumenkite/lumenkite-clip", "usr/libexec/lumenkite/lumenkite-analysis.so",
             f"usr/share/applications/{app_id}.desktop", f"usr/share/metainfo/{app_id}.metainfo.xml",
             f"usr/share/icons/hicolor/scalable/apps/{app_id}.svg"]
    files += [f"usr/share/icons/hicolor/{s}x{s}/apps/{app_id}.png" for s in sizes]
    return files


def png_size(path: str) -> tuple:
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return (0, 0)
    return struct.unpack(">II", head[16:24])


def helper_children(pid: int) -> list:
    """The programs the process `pid` has started: (process id, executable) pairs."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            if ppid == pid:
                found.append((int(entry), os.readlink(f"/proc/{entry}/exe")))
        except (OSError, ValueError, IndexError):
            continue
    return found


def cpu_and_nice(pid: int) -> str:
    """The CPU seconds a process has used and its nice value, to tell a hang from a starved run."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        ticks = os.sysconf("SC_CLK_TCK")
        return f"{(int(fields[11]) + int(fields[12])) / ticks:.1f} s CPU at nice {fields[16]}"
    except (OSError, ValueError, IndexError):
        return "gone"


def make_clips(home: str) -> int:
    folder = os.path.join(home, "Videos", "Holidays")
    os.makedirs(folder, exist_ok=True)
    sources = ["testsrc2", "smptebars", "mandelbrot"]
    for i, source in enumerate(sources):
        if not lavfi_clip(os.path.join(folder, f"clip_{i + 1}.mp4"),
                          f"{source}=size=320x180:rate=10,trim=duration=3,setpts=PTS-STARTPTS",
                          ["-c:v", "libx264", "-pix_fmt", "yuv420p"]):
            raise RuntimeError("cannot make the fixture clips")
    return len(sources)


def check_install(build: str, app_id: str, sizes: list, root: str) -> list:
    problems = []
    stage = os.path.join(root, "stage")
    env = dict(os.environ, DESTDIR=stage)
    subprocess.run(["cmake", "--install", build, "--prefix", "/usr"], env=env, check=True,
                   stdout=subprocess.DEVNULL)
    for rel in expected_files(app_id, sizes):
        if not os.path.isfile(os.path.join(stage, rel)):
            problems.append(f"not installed: {rel}")
    for s in sizes:
        png = os.path.join(stage, f"usr/share/icons/hicolor/{s}x{s}/apps/{app_id}.png")
        if os.path.isfile(png) and png_size(png) != (s, s):
            problems.append(f"{png} is {png_size(png)}, not {s}x{s}")
    for tool in (["desktop-file-validate", f"{stage}/usr/share/applications/{app_id}.desktop"],
                 ["appstreamcli", "validate", "--no-net", f"{stage}/usr/share/metainfo/{app_id}.metainfo.xml"]):
        result = subprocess.run(tool, capture_output=True, text=True)
        if result.returncode != 0:
            problems.append(f"{tool[0]} failed:\n{result.stdout}{result.stderr}")
    if problems:
        return problems

    home = os.path.join(root, "home")
    make_clips(home)
    env = sandbox_env(home)
    write_settings(env["XDG_CONFIG_HOME"], "en")
    install_models(build, os.path.join(env["XDG_DATA_HOME"], "Lumenkite", "Models"))
    program = os.path.join(stage, "usr/bin/lumenkite")
    helper = os.path.realpath(os.path.join(stage, "usr/libexec/lumenkite/lumenkite-clip"))
    png = os.path.join(root, "indexed.png")
    app = subprocess.Popen([program, "--capture-window", png, "--show", "click:ai.index",
                            "--capture-when", "indexed"], env=env)
    started = set()
    # The program gives up on its own after four minutes without reaching the state; past
    # that it is stuck, and what it and its helpers had done says whether it hung or starved.
    deadline = time.monotonic() + 300
    while app.poll() is None and time.monotonic() < deadline:
        started.update(exe for _, exe in helper_children(app.pid))
        time.sleep(0.05)
    if app.poll() is None:
        load = os.getloadavg()[0]
        usage = [f"the program: {cpu_and_nice(app.pid)}"]
        usage += [f"{exe}: {cpu_and_nice(child)}" for child, exe in helper_children(app.pid)]
        app.kill()
        app.wait()
        problems.append(f"the installed program did not finish indexing the fixture home (load {load:.1f}; "
                        + "; ".join(usage) + ")")
    elif app.returncode != 0 or not os.path.exists(png):
        problems.append(f"the installed program ended with {app.returncode} without its picture")
    if helper not in started:
        problems.append(f"the installed program did not start {helper} (started: {sorted(started) or 'nothing'})")
    return problems


def check_package(build: str, app_id: str, sizes: list, root: str) -> list:
    out = os.path.join(root, "package")
    subprocess.run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", out], check=True,
                   stdout=subprocess.DEVNULL)
    debs = [f for f in os.listdir(out) if f.startswith("lumenkite_") and f.endswith(".deb")]
    if len(debs) != 1:
        return [f"cpack made {debs or 'no package'}"]
    deb = os.path.join(out, debs[0])
    listing = subprocess.run(["dpkg-deb", "-c", deb], capture_output=True, text=True, check=True).stdout
    listed = {line.split()[-1].lstrip("./") for line in listing.splitlines() if line.strip()}
    problems = [f"not in the package: {rel}" for rel in expected_files(app_id, sizes) if rel not in listed]
    depends = subprocess.run(["dpkg-deb", "-f", deb, "Depends"], capture_output=True, text=True, check=True).stdout
    # dpkg-shlibdeps named the linked libraries, beside the pieces only loaded or started at
    # run time.
    for name in ("libqt6widgets6", "ffmpeg", "libmpv2", "libavformat", "libswresample", "libssl3", "libcld2"):
        if name not in depends:
            problems.append(f"Depends lacks {name}: {depends.strip()}")
    return problems


def main() -> int:
    build, app_id, mode = os.path.abspath(sys.argv[1]), sys.argv[2], sys.argv[4]
    sizes = [int(s) for s in sys.argv[3].split(";")]
    # Outside the build folder: an installed program must not pass for one of the build.
    root = tempfile.mkdtemp(prefix="lumenkite-install-check-")
    try:
        problems = (check_install if mode == "install" else check_package)(build, app_id, sizes, root)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    for p in problems:
        print(p)
    print("FAILED" if problems else "ok")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
