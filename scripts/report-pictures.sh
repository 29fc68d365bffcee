#!/usr/bin/env bash
# Makes the README's pictures of the evidence report: a layout run over the sample files, shown
# by headless Chromium at 1280 and at 800 pixels wide.
#   scripts/report-pictures.sh [BUILD_DIR]   (default: build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp data/samples/source.prn data/samples/destination.prn data/samples/layout.csv "$work/"
(
  cd "$work"
  status=0
  "$OLDPWD/$build/cli/vesmer-batch" -q --layout layout.csv --key-fields 社員番号 \
    --report report.html source.prn destination.prn >/dev/null || status=$?
  # 1: the samples differ, as they are meant to.
  [ "$status" -eq 1 ] || { echo "vesmer-batch ended with $status" >&2; exit 1; }
)
for width in 1280 800; do
  chromium --headless --no-sandbox --disable-gpu --no-first-run --hide-scrollbars \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile" --window-size="$width,1500" \
    --screenshot="$PWD/docs/report-$width.png" "file://$work/report.html" 2>/dev/null
done
echo "docs/report-1280.png docs/report-800.png"
