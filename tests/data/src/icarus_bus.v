// A 4-bit counter and a 3-bit state, dumped twice from the same run: whole
// (icarus_bus_whole.vcd), and one 1-bit variable per bit, as other
// simulators dump buses (icarus_bus_split.vcd; regenerate.sh turns the escaped
// names \count[3] into the reference count and the index token [3]).
module tb;
  reg clk = 0;
  reg rst = 1;
  reg [3:0] count;  // x until the reset
  reg [2:0] state = 0;
  wire \count[3] = count[3];
  wire \count[2] = count[2];
  wire \count[1] = count[1];
  wire \count[0] = count[0];
  wire \state[2] = state[2];
  wire \state[1] = state[1];
  wire \state[0] = state[0];
  always #5 clk = ~clk;
  always @(posedge clk) begin
    if (rst) count <= 0;
    else count <= count + 3;
    state <= {state[1:0], ~state[2]};
  end
  initial begin
    $dumpfile(`OUT);
`ifdef SPLIT
    $dumpvars(1, clk, rst, \count[3] , \count[2] , \count[1] , \count[0] , \state[2] ,
              \state[1] , \state[0] );
`else
    $dumpvars(1, clk, rst, count, state);
`endif
    #17 rst = 0;
    #30 count[1] = 1'bz;
    #10 count[1] = 1'b0;
    #150 $finish;
  end
endmodule
