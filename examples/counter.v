// A 4-bit counter with a small state machine and a shift register, plus the
// testbench that drives it and writes counter.vcd.
`timescale 1ns / 1ns

module counter (
    input  wire       clk,
    input  wire       rst,
    input  wire       en,
    output reg  [3:0] count,
    output reg  [7:0] shift,
    output reg  [1:0] state,
    output wire       wrap
);
  localparam IDLE = 2'd0, RUN = 2'd1, HOLD = 2'd2;

  assign wrap = (count == 4'hf);

  always @(posedge clk) begin
    if (rst) begin
      count <= 4'd0;
      shift <= 8'h01;
      state <= IDLE;
    end else begin
      case (state)
        IDLE: if (en) state <= RUN;
        RUN: begin
          count <= count + 4'd1;
          shift <= {shift[6:0], shift[7]};
          if (!en) state <= HOLD;
        end
        HOLD: if (en) state <= RUN;
        default: state <= IDLE;
      endcase
    end
  end
endmodule

module tb;
  reg clk = 1'b0;
  reg rst = 1'b1;
  reg en = 1'b0;
  wire [3:0] count;
  wire [7:0] shift;
  wire [1:0] state;
  wire wrap;
  wire [3:0] bus;  // driven only while en is high, floating otherwise
  integer cycles = 0;
  real duty = 0.0;

  assign bus = en ? count : 4'bz;

  counter dut (
      .clk(clk),
      .rst(rst),
      .en(en),
      .count(count),
      .shift(shift),
      .state(state),
      .wrap(wrap)
  );

  always #5 clk = ~clk;

  always @(posedge clk) begin
    cycles = cycles + 1;
    duty = (count + 0.5) / 16.0;
  end

  initial begin
    $dumpfile("counter.vcd");
    $dumpvars(0, tb);
    #22 rst = 1'b0;
    #10 en = 1'b1;
    #200 en = 1'b0;
    #30 en = 1'b1;
    #60 $finish;
  end
endmodule
