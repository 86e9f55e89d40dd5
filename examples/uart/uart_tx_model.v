// Reference model of uart_tx.v, written as the protocol reads: hold the start bit, the eight
// data bits least significant first and the stop bit for CLKS_PER_BIT clocks each. Simulated
// in place of the design, it writes the golden dump uart_tx_golden.vcd.
module uart_tx #(
    parameter CLKS_PER_BIT = 4
) (
    input  wire       clk,
    input  wire       rst,
    input  wire       start,
    input  wire [7:0] data,
    output reg        tx,
    output reg        busy
);
  integer i;
  reg [7:0] sending;

  task hold(input bit_value);
    begin
      tx <= bit_value;
      repeat (CLKS_PER_BIT) @(posedge clk);
    end
  endtask

  always @(posedge clk) begin
    if (rst) begin
      tx   <= 1'b1;
      busy <= 1'b0;
    end else if (start && !busy) begin
      busy <= 1'b1;
      sending = data;
      hold(1'b0);
      for (i = 0; i < 8; i = i + 1) hold(sending[i]);
      hold(1'b1);
      busy <= 1'b0;
    end
  end
endmodule
