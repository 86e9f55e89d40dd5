#!/bin/sh
# Regenerates the three dumps of this directory with Icarus Verilog (apt-get install -y iverilog):
#   uart_tx.vcd            the design uart_tx.v
#   uart_tx_golden.vcd     the reference model uart_tx_model.v
#   uart_tx_msb_first.vcd  the design built with the fault MSB_FIRST
# into this directory, or into the directory given as the only argument. Each simulation writes
# uart_tx.vcd in a scratch directory, from where it is moved to its place.
set -e
here="$(cd "$(dirname "$0")" && pwd)"
out="$(cd "${1:-$here}" && pwd)"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
simulate() {  # simulate OUTPUT IVERILOG-ARGUMENTS...
  output="$1"
  shift
  (cd "$scratch" && iverilog -o sim.vvp "$@" "$here/tb_uart_tx.v" && vvp -n sim.vvp >/dev/null)
  mv "$scratch/uart_tx.vcd" "$out/$output"
}
simulate uart_tx.vcd "$here/uart_tx.v"
simulate uart_tx_golden.vcd "$here/uart_tx_model.v"
simulate uart_tx_msb_first.vcd -DMSB_FIRST "$here/uart_tx.v"
