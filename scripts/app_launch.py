"""Starting the real program on a scratch home, shared by the picture and check scripts.

A `Sandbox` is a temporary folder with a home inside it, removed when the run ends; the
program runs with HOME and the XDG folders pointed there, in English or the language the
settings file names, on the X display. `capture` starts it once to grab its window to a PNG.
"""
import os
import shutil
import subprocess
import sys
import tempfile


def program_path(build: str) -> str:
    return os.path.abspath(os.path.join(build, "src", "app", "lumenkite"))


def picture_arguments() -> tuple:
    """BUILD_DIR OUT_DIR from the command line: (the program, the absolute output folder, made)."""
    build, out = sys.argv[1], os.path.abspath(sys.argv[2])
    os.makedirs(out, exist_ok=True)
    return program_path(build), out


def sandbox_env(home: str) -> dict:
    """The environment that runs the app on the fixture home only, on the X display."""
    env = dict(os.environ)
    env.update({
        "HOME": home,
        "XDG_CONFIG_HOME": os.path.join(home, ".config"),
        "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
        "XDG_CACHE_HOME": os.path.join(home, ".cache"),
        "XDG_VIDEOS_DIR": os.path.join(home, "Videos"),
        "LANG": "C.UTF-8",
        "QT_QPA_PLATFORM": "xcb",
        # A bus address that answers nothing. With none set, libdbus forks to start a bus
        # when the window first asks for one (its accessibility bridge), and the forked child
        # allocates; in the sanitizer build such a child can wait forever for an allocator
        # lock another thread held at the fork, and the window never appears.
        "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + os.path.join(home, ".no-session-bus"),
    })
    env.pop("LUMENKITE_CAPTURE_DIR", None)
    return env


def write_settings(config_home: str, language: str, extra: str = "") -> None:
    """The settings file of a user past the welcome, in `language`; `extra` is appended as it is."""
    folder = os.path.join(config_home, "Lumenkite")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "Lumenkite.conf"), "w") as f:
        f.write("[General]\n")
        f.write(f"Lumenkite.language={language}\n")
        f.write("Lumenkite.hasCompletedOnboarding=true\n")
        f.write(extra)


class Sandbox:
    """A scratch folder with `home` inside it and the settings written, removed on leaving."""

    def __init__(self, prefix: str, language: str = "en"):
        self.root = tempfile.mkdtemp(prefix=prefix)
        self.home = os.path.join(self.root, "home")
        self.videos = os.path.join(self.home, "Videos")
        os.makedirs(self.home)
        self.env = sandbox_env(self.home)
        self.config_home = self.env["XDG_CONFIG_HOME"]
        self.data_home = self.env["XDG_DATA_HOME"]
        write_settings(self.config_home, language)

    def settings(self, language: str, extra: str = "") -> None:
        write_settings(self.config_home, language, extra)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        shutil.rmtree(self.root, ignore_errors=True)
        return False


def lavfi_clip(path: str, video: str, output_args: list, audio: str = "", filters: str = "") -> bool:
    """Writes a generated clip: `video` (and `audio`) as lavfi sources, `filters` on the picture."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    args = ["ffmpeg", "-y", "-v", "error", "-f", "lavfi", "-i", video]
    if audio:
        args += ["-f", "lavfi", "-i", audio]
    if filters:
        args += ["-vf", filters]
    args += output_args
    if audio:
        args.append("-shortest")
    ok = subprocess.run([*args, path]).returncode == 0
    if not ok:
        print("FAILED to make " + path)
    return ok


def capture(program: str, png: str, args: list, env: dict, timeout: int = 120) -> bool:
    """Starts the program once to grab its window into png and says whether the picture was written."""
    if os.path.exists(png):
        os.remove(png)
    result = subprocess.run([program, "--capture-window", png, *args], env=env, timeout=timeout)
    ok = result.returncode == 0 and os.path.exists(png)
    print(("wrote " if ok else "FAILED ") + png)
    return ok
