#!/usr/bin/env bash
# Installs what Vesmer needs to build, test and run on Debian 12 (bookworm).
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
packages=(
  g++ cmake ninja-build pkg-config python3 libicu-dev
  qt6-base-dev libgl-dev qt6-translations-l10n
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev nlohmann-json3-dev libssl-dev libkainjow-mustache-dev
  # The workbook of a job (--summary-xlsx), and the reader its tests open it with.
  libxlsxwriter-dev python3-openpyxl
  fonts-ipafont-gothic fonts-noto-cjk
  # The report's print test: Chromium prints the page to PDF, poppler reads the PDF back.
  chromium poppler-utils
  # The fuzz targets: clang with its sanitizer and libFuzzer runtimes.
  clang libclang-rt-14-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
