#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the app need.
# Idempotent: asks dpkg first and only calls apt-get for what is missing.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ make pkgconf libgtest-dev
  qt6-base-dev libqt6opengl6-dev qt6-multimedia-dev qt6-svg-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav
  pulseaudio
  libmpv-dev ffmpeg libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libswresample-dev
  libopencv-dev opencv-data
  libtesseract-dev tesseract-ocr-eng tesseract-ocr-jpn tesseract-ocr-deu
  libpocketsphinx-dev pocketsphinx-en-us libcld2-dev
  libtorch-dev libopenblas0-openmp nlohmann-json3-dev libsimdjson-dev
  libssl-dev zlib1g-dev libfontconfig-dev
  xvfb xauth libgl1-mesa-dri libegl-mesa0 fonts-dejavu-core fonts-ipafont-gothic flite
  python3 dbus-daemon e2fsprogs
  desktop-file-utils appstream dpkg-dev libxcb1-dev
  clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
