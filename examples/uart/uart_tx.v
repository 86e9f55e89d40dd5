// 8N1 serial transmitter: on `start` it sends `data` as a start bit (0), the eight data
// bits least significant first and a stop bit (1), each held for CLKS_PER_BIT clocks.
// `busy` is high from the clock that takes `start` until the stop bit has ended.
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
  reg [8:0] frame;  // what is still to be sent after the current bit: data bits, stop bit
  reg [3:0] bits_left;
  reg [7:0] ticks;

  always @(posedge clk) begin
    if (rst) begin
      tx   <= 1'b1;
      busy <= 1'b0;
    end else if (!busy) begin
      if (start) begin
`ifdef MSB_FIRST
        // The fault that examples/uart/uart_tx_msb_first.vcd records: bits in the wrong order.
        frame <= {1'b1, data[0], data[1], data[2], data[3], data[4], data[5], data[6], data[7]};
`else
        frame <= {1'b1, data};
`endif
        tx        <= 1'b0;
        busy      <= 1'b1;
        bits_left <= 4'd9;
        ticks     <= CLKS_PER_BIT - 1;
      end
    end else if (ticks != 0) begin
      ticks <= ticks - 1;
    end else if (bits_left != 0) begin
      tx        <= frame[0];
      frame     <= frame >> 1;
      bits_left <= bits_left - 1;
      ticks     <= CLKS_PER_BIT - 1;
    end else begin
      busy <= 1'b0;
    end
  end
endmodule
