#!/usr/bin/env bash
# Renders the figure of a bundled example to PNG, for the README:
#   tools/render_figure.sh [DECK] [PNG]
# (default: examples/normal_three_stage.deck -> examples/normal_three_stage.png).
# A design file with a [pareto] table (*.toml) gives the figure of its front.
# Uses rsvg-convert from Debian's librsvg2-bin, installed where missing.
set -euo pipefail
cd "$(dirname "$0")/.."
deck=${1:-examples/normal_three_stage.deck}
png=${2:-${deck%.*}.png}
mode=()
[[ $deck == *.toml ]] && mode=(--pareto)
command -v rsvg-convert >/dev/null || { apt-get update >/dev/null && apt-get install -y librsvg2-bin >/dev/null; }
make build >/dev/null
svg=$(mktemp --suffix=.svg)
trap 'rm -f "$svg"' EXIT
SOURCE_DATE_EPOCH=1772874303 TZ=UTC build/selquant --quiet "${mode[@]}" --plot "$svg" "$deck" >/dev/null
rsvg-convert --background-color=white "$svg" -o "$png"
echo "$png"
