// Icarus Verilog: $dumpflush ends an FST value-change block, so this dump
// spreads its changes over several blocks, a real among them, and a vector
// that goes back and forth between two values across them.
module tb;
  reg clk = 0;
  reg [7:0] n = 0;
  reg [3:0] m = 4'b0001;
  real r = 0.5;
  always #5 clk = ~clk;
  always @(posedge clk) begin
    n <= n + 3;
    m <= m ^ 4'b0011;
    r <= r + 0.25;
  end
  initial begin
    $dumpfile("icarus_blocks.vcd");
    $dumpvars(0, tb);
    repeat (4) begin
      #40 $dumpflush;
    end
    #30 $finish;
  end
endmodule
