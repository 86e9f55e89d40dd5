// Fixture written by Verilator: the TOP wrapper scope, indented declaration lines,
// generate blocks and instance arrays (scopes gen[0], ua[1]), an unpacked
// array (references qa[0] with a range token), vectors wider than 64 and 128
// bits, a real, signed values, and $dumpoff/$dumpon calls.
`timescale 1ns / 1ps

module leaf #(
    parameter int W = 4
) (
    input logic clk,
    input logic [W-1:0] d,
    output logic [W-1:0] q
);
  always_ff @(posedge clk) q <= d;
endmodule

module top;
  logic clk = 0;
  logic [3:0] data = 4'b0;
  wire [3:0] q0;
  bit b;
  int i32;
  integer n;
  real r = 1.5;
  time t;
  logic [69:0] wide = '0;
  reg [7:0] rg;
  logic [129:0] huge = '0;
  logic [3:0] qa[2];
  logic signed [15:0] s16 = -16'sd3;

  leaf #(.W(4)) u0 (
      .clk(clk),
      .d(data),
      .q(q0)
  );
  leaf #(.W(4)) ua[1:0] (
      .clk(clk),
      .d(data),
      .q(qa)
  );

  genvar gi;
  for (gi = 0; gi < 2; gi++) begin : gen
    logic [1:0] g;
    always_ff @(posedge clk) g <= data[gi*2+:2];
    if (gi == 1) begin : inner
      logic w;
      assign w = g[0];
    end
  end

  initial begin
    $dumpfile("verilator_hier.vcd");
    $dumpvars(0, top);
    rg = 8'hzx;
    #7 data = 4'b1001;
    #10 data = 4'b0011;
    n = 3;
    i32 = -1;
    t = $time;
    r = -2.25e-3;
    wide = 70'h3f_ffff_ffff_ffff_ffff;
    huge[129] = 1'b1;
    #10 $dumpoff;
    #20 data = 4'b1111;
    #10 $dumpon;
    #20 $finish;
  end

  always #5 clk = ~clk;
endmodule
