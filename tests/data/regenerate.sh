#!/usr/bin/env bash
# Regenerates the simulator-written dumps in this directory from the designs in
# src/, and the <name>.signals.txt list beside each dump that a reader accepts.
#
# Needs: iverilog/vvp (Icarus Verilog), verilator, ghdl and python3.
# On Debian: apt-get install -y iverilog verilator ghdl
#
# Usage: tests/data/regenerate.sh   (from any directory)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
src="$here/src"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# --- Icarus Verilog ---------------------------------------------------------
iverilog -o "$work/icarus_hier.vvp" "$src/icarus_hier.v"
(cd "$work" && vvp -n icarus_hier.vvp >/dev/null)
cp "$work/icarus_hier.vcd" "$here/"
# The same simulation as FST: vvp writes it under the name the design gives.
(cd "$work" && vvp -n icarus_hier.vvp -fst >/dev/null)
cp "$work/icarus_hier.vcd" "$here/icarus_hier.fst"
# Changes over several FST blocks: $dumpflush ends one.
iverilog -o "$work/icarus_blocks.vvp" "$src/icarus_blocks.v"
(cd "$work" && vvp -n icarus_blocks.vvp >/dev/null && cp icarus_blocks.vcd "$here/" &&
  vvp -n icarus_blocks.vvp -fst >/dev/null && cp icarus_blocks.vcd "$here/icarus_blocks.fst")

# The same run with its buses whole and split into bits.
iverilog -DOUT='"icarus_bus_whole.vcd"' -o "$work/bus_whole.vvp" "$src/icarus_bus.v"
iverilog -DSPLIT -DOUT='"icarus_bus_split.vcd"' -o "$work/bus_split.vvp" "$src/icarus_bus.v"
(cd "$work" && vvp -n bus_whole.vvp >/dev/null && vvp -n bus_split.vvp >/dev/null)
cp "$work/icarus_bus_whole.vcd" "$here/"
sed -E 's/ \\([a-z]+)(\[[0-9]+\]) \$end/ \1 \2 $end/' "$work/icarus_bus_split.vcd" \
  >"$here/icarus_bus_split.vcd"

# --- Verilator --------------------------------------------------------------
verilate() {  # name, extra options...
  local name="$1"
  shift
  for trace in vcd fst; do
    local flag=--trace
    [ "$trace" = fst ] && flag=--trace-fst
    verilator --binary "$flag" --timing --quiet-exit -j 2 "$@" \
      --Mdir "$work/$name.$trace.obj" -o "$name" --top-module top "$src/$name.sv" \
      >"$work/$name.log" || { cat "$work/$name.log"; return 1; }
    # Either trace is written under the name the design gives.
    (cd "$work" && "$work/$name.$trace.obj/$name" >/dev/null)
    cp "$work/$name.vcd" "$here/$name.$trace"
  done
}
verilate verilator_hier
verilate verilator_interface --trace-structs

# --- GHDL -------------------------------------------------------------------
ghdl_run() {  # source name, top entity
  local name="$1" top="$2"
  mkdir -p "$work/ghdl"
  ghdl -a --std=08 --workdir="$work/ghdl" "$src/$name.vhd"
  (cd "$work/ghdl" && ghdl -e --std=08 --workdir="$work/ghdl" "$top" &&
    ghdl -r --std=08 --workdir="$work/ghdl" "$top" --vcd="$here/$name.vcd" --vcd-nodate &&
    ghdl -r --std=08 --workdir="$work/ghdl" "$top" --fst="$here/$name.fst")
}
ghdl_run ghdl_hier top
ghdl_run ghdl_ninevalue ninevalue

# --- Expected signal names --------------------------------------------------
# One full name per $var, in declaration order: the enclosing scope names
# joined by ".", a ".", the reference, then the bit index or range when it is
# written as a token of its own. A scope name keeps its text when it begins
# with a backslash, or begins with an ASCII letter or "_" and holds only
# a-z A-Z 0-9 _ $ ( ) .; any other scope name gets a leading backslash.
# A dump whose header the reader refuses gets no list (see README.md).
python3 - "$here" <<'PY'
import pathlib
import re
import sys

PLAIN = re.compile(r"[A-Za-z_][A-Za-z0-9_$().]*\Z")
SCOPE_TYPES = {"module", "task", "function", "begin", "fork"}
REFUSED = {"verilator_interface.vcd"}


def scope_name(name):
    return name if name.startswith("\\") or PLAIN.match(name) else "\\" + name


def signal_names(text):
    header = text[: text.index("$enddefinitions")]
    tokens = iter(header.split())
    stack, names = [], []
    for tok in tokens:
        if tok == "$scope":
            kind, name, end = next(tokens), next(tokens), next(tokens)
            assert kind in SCOPE_TYPES and end == "$end", (kind, name, end)
            stack.append(scope_name(name))
        elif tok == "$upscope":
            stack.pop()
        elif tok == "$var":
            rest = []
            for t in tokens:
                if t == "$end":
                    break
                rest.append(t)
            ref = rest[3] + (rest[4] if len(rest) > 4 else "")
            names.append(".".join(stack + [ref]))
        elif tok in ("$comment", "$date", "$version", "$timescale"):
            for t in tokens:
                if t == "$end":
                    break
    return names


directory = pathlib.Path(sys.argv[1])
for vcd in sorted(directory.glob("*.vcd")):
    if vcd.name in REFUSED:
        continue
    names = signal_names(vcd.read_text(encoding="utf-8"))
    vcd.with_suffix(".signals.txt").write_text("".join(n + "\n" for n in names), encoding="utf-8")
PY

ls -l "$here"/*.vcd "$here"/*.fst "$here"/*.signals.txt
