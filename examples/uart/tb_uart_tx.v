// Testbench: resets the transmitter and sends the bytes 0x55 and 0xa3. Only the signals of
// `tb` are dumped, so the dumps of the design and of the reference model have the same names.
`timescale 1ns / 1ns

module tb;
  reg clk = 1'b0;
  reg rst = 1'b1;
  reg start = 1'b0;
  reg [7:0] data = 8'h00;
  wire tx;
  wire busy;

  uart_tx #(.CLKS_PER_BIT(4)) dut (
      .clk(clk),
      .rst(rst),
      .start(start),
      .data(data),
      .tx(tx),
      .busy(busy)
  );

  always #5 clk = ~clk;

  // Offers `value` for one clock, then waits until the frame has been sent.
  task send(input [7:0] value);
    begin
      @(negedge clk);
      data  = value;
      start = 1'b1;
      @(negedge clk);
      start = 1'b0;
      wait (!busy);
    end
  endtask

  initial begin
    $dumpfile("uart_tx.vcd");
    $dumpvars(1, tb);
    repeat (2) @(negedge clk);
    rst = 1'b0;
    send(8'h55);
    send(8'ha3);
    repeat (4) @(negedge clk);
    $finish;
  end
endmodule
