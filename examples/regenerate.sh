#!/bin/sh
# Regenerates examples/counter.vcd from examples/counter.v with Icarus Verilog.
set -e
cd "$(dirname "$0")" && iverilog -o counter.vvp counter.v && vvp -n counter.vvp >/dev/null && rm -f counter.vvp
