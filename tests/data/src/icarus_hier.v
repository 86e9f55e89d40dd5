// Icarus Verilog fixture: every scope type (module, task, function, begin,
// fork), arrays of instances and generate blocks (scope names like u[0] and
// gen[1]), an escaped instance name, x/z values, a real, an event, a time,
// and $dumpoff/$dumpon/$dumpall sections.
`timescale 1ns / 100ps

module leaf (
    input wire clk,
    input wire [3:0] d,
    output reg [3:0] q
);
  always @(posedge clk) q <= d;
endmodule

module \esc-mod (
    input  wire a,
    output wire y
);
  assign y = ~a;
endmodule

module top;
  reg clk = 0;
  reg [3:0] data = 4'bz;
  wire [3:0] q0, q1;
  integer n;
  real r = 1.5;
  time t;
  event ev;
  wire \weird.name ;
  supply0 gnd;
  supply1 vdd;

  leaf u[1:0] (
      .clk(clk),
      .d(data),
      .q({q1[1:0], q0[1:0]})
  );
  \esc-mod \inst-1 (
      .a(clk),
      .y(\weird.name )
  );

  genvar i;
  generate
    for (i = 0; i < 2; i = i + 1) begin : gen
      reg [1:0] g = i;
      if (i == 1) begin : inner
        wire w = g[0];
      end
    end
  endgenerate

  task pulse;
    reg [2:0] tv;
    begin
      tv = 3'b101;
    end
  endtask

  function [3:0] inc(input [3:0] v);
    reg [3:0] tmp;
    begin
      tmp = v + 1;
      inc = tmp;
    end
  endfunction

  always #5 clk = ~clk;

  initial begin : stim
    reg [7:0] local_v;
    $dumpfile("icarus_hier.vcd");
    $dumpvars(0, top);
    local_v = 8'hxz;
    #7 data = 4'b10x1;
    #10 data = 4'b0011;
    n = 3;
    t = $time;
    ->ev;
    r = -2.25e-3;
    #10 $dumpoff;
    #20 data = 4'b1111;
    #10 $dumpon;
    #5 $dumpall;
    fork : f
      #3 n = inc(4'd7);
      #4 pulse;
    join
    #10 $finish;
  end
endmodule
