#!/usr/bin/env bash
# Writes bench/out/sim.vcd, a dump of a few hundred MB written by Icarus Verilog running
# bench/design/soc.v. Usage: bench/make_sim_dump.sh [CYCLES] (default 250000, about 320 MB;
# the size grows linearly with the cycle count). OUT_DIR overrides bench/out. FORMAT=fst
# writes the same simulation as FST to bench/out/sim.fst instead.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cycles="${1:-250000}"
out="${OUT_DIR:-$here/out}"
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
iverilog -g2005 -Wall -o "$work/soc.vvp" "$here/design/soc.v"
format="${FORMAT:-vcd}"
flag=()
[ "$format" = fst ] && flag=(-fst)
# Either format is written under the name the design gives.
(cd "$work" && vvp -n soc.vvp "+cycles=$cycles" "${flag[@]}" >/dev/null)
mv "$work/sim.vcd" "$out/sim.$format"
ls -l "$out/sim.$format"
