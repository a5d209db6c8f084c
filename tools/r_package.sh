#!/bin/sh
# Makes r/ a package that builds on its own: copies the engine's sources
# (engine, formats, mvn, numeric, textio; not what only the program uses)
# into r/src/selquant, each source with strict_fp.h first (and the kernels'
# with vector_math.h: the flags of the program's build), and the
# examples into r/inst/extdata. With the path of a built program it also
# writes the program's CSV files of the examples the package's tests compare
# with, into r/tests/testthat/cli. None of these copies is committed.
#
#   tools/r_package.sh [SELQUANT]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
pkg=$root/r
units="engine formats mvn numeric textio"

# What only the program uses: its report, and its ends on a fatal
# error or a signal, which write on standard output and error and abort.
program_only="formats/report.cpp textio/record.cpp textio/outfile.cpp
  textio/abort.cpp"

rm -rf "$pkg/src/selquant" "$pkg/inst/extdata"
for u in $units; do
  mkdir -p "$pkg/src/selquant/$u"
  cp "$root/$u"/*.hpp "$pkg/src/selquant/$u/"
  for f in "$root/$u"/*.cpp; do
    case " $(echo $program_only) " in
      *" $u/$(basename "$f") "*) ;;
      *) {
        echo '#include "strict_fp.h"'
        [ "$u" = mvn ] && echo '#include "vector_math.h"'
        cat "$f"
      } > "$pkg/src/selquant/$u/$(basename "$f")" ;;
    esac
  done
done
# The page's files (D3 from Debian's node-d3, the page's own script and
# style), compiled in as the program's build does it.
d3=/usr/share/nodejs/d3/dist/d3.min.js
[ -f "$d3" ] || { echo "D3 not found ($d3): install Debian's node-d3" >&2; exit 1; }
page=$root/formats/page
cmake "-DNAMES=d3=$d3|common_script=$page/common.js|front_script=$page/front.js|run_script=$page/run.js|style=$page/page.css" \
  "-DOUTPUT=$pkg/src/selquant/formats/assets.cpp" -P "$root/formats/embed.cmake"

mkdir -p "$pkg/inst/extdata"
cp "$root"/examples/*.toml "$root"/examples/*.deck "$pkg/inst/extdata/"

# src/Makevars names every object: it must name exactly the sources copied.
want=$(cd "$pkg/src" && ls selquant/*/*.cpp *.cpp | sed 's/\.cpp$/.o/' | sort)
have=$(sed -n '/^OBJECTS *=/,/^$/p' "$pkg/src/Makevars" | tr ' \\' '\n\n' |
  grep '\.o$' | sort)
if [ "$want" != "$have" ]; then
  echo "r/src/Makevars: OBJECTS does not list the sources; it should be:" >&2
  echo "$want" | sed 's/^/  /' >&2
  exit 1
fi

if [ $# -ge 1 ]; then
  selquant=$1
  out=$pkg/tests/testthat/cli
  rm -rf "$out"
  mkdir -p "$out"
  # The clock reading and kernels the tests use with the same examples.
  epoch=1772874303
  run() {
    name=$1
    shift
    "$selquant" --epoch $epoch --threads 1 --quiet --csv "$out/$name.results.csv" \
      --inputs-csv "$out/$name.inputs.csv" --summary-csv "$out/$name.summary.csv" "$@" >/dev/null
  }
  run two_stage_design --kernel fast --html "$out/two_stage_design.html" \
    "$root/examples/two_stage_design.toml"
  run normal_three_stage --kernel fast "$root/examples/normal_three_stage.deck"
  run four_stage_five_group --kernel fast "$root/examples/four_stage_five_group.deck"
  run exact_two_stage --kernel specified "$root/examples/exact_two_stage.deck"
  # Given draws: the first 300 rows of the worked example's.
  head -n 301 "$root/examples/bobko_posterior_draws.csv" > "$out/bobko_draws.csv"
  run bobko_given --kernel fast --draws "$out/bobko_draws.csv" "$root/examples/bobko_two_stage.toml"
  "$selquant" --pareto --epoch $epoch --threads 1 --csv "$out/bobko_two_stage.front.csv" \
    --html "$out/bobko_two_stage.front.html" "$root/examples/bobko_two_stage.toml" >/dev/null
  # The same with the first stage's retention searched.
  sed 's/^points = 11$/points = 11\nretention = [{ low = 0.15, high = 0.9 }, 0.1]/' \
    "$root/examples/bobko_two_stage.toml" > "$out/retention.toml"
  "$selquant" --pareto --epoch $epoch --threads 1 \
    --csv "$out/bobko_two_stage_retention.front.csv" "$out/retention.toml" >/dev/null
  rm "$out/retention.toml"
  # Two structures with costs: a column of text, the cost of each layout.
  sed 's/^points = 11$/points = 7\nstructures = [[["CA", "B"], ["SI"]], [["B"], ["CA", "SI", "C"]]]/; s/^\[pareto\]$/[costs]\nCA = 10\nSI = 150\nC = 8\nB = 12\n\n[pareto]/' \
    "$root/examples/bobko_two_stage.toml" > "$out/structures.toml"
  "$selquant" --pareto --epoch $epoch --threads 1 \
    --csv "$out/bobko_two_stage_structures.front.csv" "$out/structures.toml" >/dev/null
  rm "$out/structures.toml"
fi
