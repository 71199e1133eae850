#!/usr/bin/env bash
# Installs the Debian 12 packages ZELV needs to build, test and run, only those missing.
# Idempotent: when everything is present it changes nothing and needs no network.
set -euo pipefail

# package            what it is for
packages=(
  g++                # the C++20 compiler
  cmake              # the build
  make               # the top-level commands
  pkg-config         # locating libraries for the build
  libgtest-dev       # unit tests of the core (GoogleTest)
  libbenchmark-dev   # the benchmark in bench/
  qt6-base-dev       # the desktop windows (Qt 6 Widgets) and Qt Test
  libjpeg62-turbo-dev # decoding the start-up picture (IJG libjpeg API)
  libgl-dev          # OpenGL headers that Qt 6's CMake package expects
  xvfb               # a virtual display for screenshots of the windows
  xauth              # needed by xvfb-run
  fonts-dejavu-core  # a font with Cyrillic glyphs for the Russian interface
  clang              # the fuzzing compiler (libFuzzer)
  libclang-rt-14-dev # libFuzzer and sanitizer runtimes for clang
  locales            # the Russian locale, whose decimal comma the tests exercise
  clang-format       # the formatting check of CI
  libeigen3-dev      # linear algebra and least squares of the rigorous estimate
  libceres-dev       # robust least squares and covariance of the rigorous estimate
  libopencv-core-dev # calibration files (cv::FileStorage)
  libopencv-calib3d-dev # lens models: undistorting image points; SQPnP for scenes in space
  libopencv-imgproc-dev # sub-pixel corners in the photograph workspace
  libopencv-contrib-dev # coded targets: ArUco and ChArUco boards (the aruco module)
  libopencv-imgcodecs-dev # coded targets: reading photographs and writing board pictures
  libapriltag-dev    # coded targets: AprilTag families and AprilGrid boards
  libcli11-dev       # the command line of zelv-cli
  nlohmann-json3-dev # the JSON of zelv-cli
  qt6-translations-l10n # Qt's own dialog texts in Russian
  qt6-image-formats-plugins # TIFF and other photographs in the workspace
  dpkg-dev           # make package: dpkg-shlibdeps finds the package's library dependencies
  file               # make package: CPack tells the programs from the other files
  pybind11-dev       # the Python module zelv (python/)
  python3-dev        # the Python module: python3's headers
  python3-numpy      # the Python module: points and results as NumPy arrays
  python3-pytest     # the Python module's tests (tests/python)
  libssl-dev         # the report: SHA-256 of each input file (OpenSSL's libcrypto)
  poppler-utils      # the report's tests: pdftotext reads the written PDF back
)

# Not a Debian system: nothing can be installed here, so leave it to CMake to find what it needs
# (it names anything missing) instead of stopping the build.
if ! command -v dpkg-query >/dev/null 2>&1 || ! command -v apt-get >/dev/null 2>&1; then
  echo "install-deps: no dpkg/apt-get here; install the libraries listed in this script by hand" >&2
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The users' locale (decimal comma), generated once.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  echo "Generating the ru_RU.UTF-8 locale"
  $SUDO sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
