// A small multi-core system for the benchmark dump: four pipelined cores that run a
// pseudo-random instruction stream, a shared bus with an arbiter, a tri-state debug port,
// wide data paths and a real-valued power estimate. The testbench writes the whole
// hierarchy with $dumpvars; its length comes from +cycles=N (default 100000).
`timescale 1ns / 1ps

module lfsr32 (
    input  wire        clk,
    input  wire        rst,
    input  wire [31:0] seed,
    output reg  [31:0] q
);
  always @(posedge clk)
    if (rst) q <= seed;
    else q <= {q[30:0], q[31] ^ q[21] ^ q[1] ^ q[0]};
endmodule

module alu (
    input  wire        clk,
    input  wire [ 3:0] op,
    input  wire [31:0] a,
    input  wire [31:0] b,
    output reg  [31:0] y,
    output reg         zero,
    output reg         carry
);
  reg [32:0] wide;
  always @(posedge clk) begin
    case (op[2:0])
      3'd0: wide = {1'b0, a} + {1'b0, b};
      3'd1: wide = {1'b0, a} - {1'b0, b};
      3'd2: wide = {1'b0, a & b};
      3'd3: wide = {1'b0, a | b};
      3'd4: wide = {1'b0, a ^ b};
      3'd5: wide = {1'b0, a << b[4:0]};
      3'd6: wide = {1'b0, a >> b[4:0]};
      default: wide = {32'd0, a < b};
    endcase
    y <= wide[31:0];
    carry <= wide[32];
    zero <= (wide[31:0] == 32'd0);
  end
endmodule

module regfile (
    input  wire        clk,
    input  wire        we,
    input  wire [ 2:0] waddr,
    input  wire [31:0] wdata,
    input  wire [ 2:0] raddr,
    output wire [31:0] rdata
);
  reg [31:0] r0, r1, r2, r3, r4, r5, r6, r7;
  always @(posedge clk)
    if (we)
      case (waddr)
        3'd0: r0 <= wdata;
        3'd1: r1 <= wdata;
        3'd2: r2 <= wdata;
        3'd3: r3 <= wdata;
        3'd4: r4 <= wdata;
        3'd5: r5 <= wdata;
        3'd6: r6 <= wdata;
        default: r7 <= wdata;
      endcase
  assign rdata = raddr == 3'd0 ? r0 : raddr == 3'd1 ? r1 : raddr == 3'd2 ? r2 :
                 raddr == 3'd3 ? r3 : raddr == 3'd4 ? r4 : raddr == 3'd5 ? r5 :
                 raddr == 3'd6 ? r6 : r7;
endmodule

module core #(
    parameter [31:0] SEED = 32'h1
) (
    input  wire        clk,
    input  wire        rst,
    input  wire        grant,
    output reg         req,
    output reg  [15:0] addr,
    output wire [31:0] wdata,
    output reg  [ 1:0] state,
    output reg         retire
);
  localparam FETCH = 2'd0, EXEC = 2'd1, MEM = 2'd2, WAIT = 2'd3;
  wire [31:0] rnd;
  reg  [31:0] instr;
  reg  [31:0] pc;
  reg  [ 7:0] stall_cnt;
  reg  [63:0] cycle;
  reg         valid;
  wire [31:0] alu_y;
  wire        alu_zero, alu_carry;
  wire [31:0] rs_val;
  integer     retired;

  lfsr32 u_rng (
      .clk (clk),
      .rst (rst),
      .seed(SEED),
      .q   (rnd)
  );
  alu u_alu (
      .clk  (clk),
      .op   (instr[3:0]),
      .a    (rs_val),
      .b    (instr),
      .y    (alu_y),
      .zero (alu_zero),
      .carry(alu_carry)
  );
  regfile u_rf (
      .clk  (clk),
      .we   (retire),
      .waddr(instr[10:8]),
      .wdata(alu_y),
      .raddr(instr[13:11]),
      .rdata(rs_val)
  );
  assign wdata = alu_y ^ pc;

  always @(posedge clk) begin
    if (rst) begin
      pc <= 32'd0;
      instr <= 32'd0;
      state <= FETCH;
      req <= 1'b0;
      addr <= 16'd0;
      retire <= 1'b0;
      valid <= 1'b0;
      stall_cnt <= 8'd0;
      cycle <= 64'd0;
      retired = 0;
    end else begin
      cycle <= cycle + 64'd1;
      retire <= 1'b0;
      case (state)
        FETCH: begin
          instr <= rnd;
          pc <= pc + 32'd4;
          valid <= 1'b1;
          state <= EXEC;
        end
        EXEC: begin
          if (instr[4]) begin
            req <= 1'b1;
            addr <= alu_y[15:0];
            state <= MEM;
          end else begin
            retire <= 1'b1;
            retired = retired + 1;
            state <= FETCH;
          end
        end
        MEM: if (grant) begin
          req <= 1'b0;
          state <= WAIT;
        end else stall_cnt <= stall_cnt + 8'd1;
        WAIT: begin
          retire <= 1'b1;
          retired = retired + 1;
          valid <= 1'b0;
          state <= FETCH;
        end
      endcase
    end
  end
endmodule

module arbiter (
    input  wire       clk,
    input  wire       rst,
    input  wire [3:0] req,
    output reg  [3:0] grant,
    output reg  [1:0] last
);
  integer i;
  reg [1:0] k;
  always @(posedge clk) begin
    if (rst) begin
      grant <= 4'd0;
      last  <= 2'd0;
    end else begin
      grant <= 4'd0;
      begin : pick
        for (i = 1; i <= 4; i = i + 1) begin
          k = last + i[1:0];
          if (req[k] && grant == 4'd0) begin
            grant[k] <= 1'b1;
            last <= k;
            disable pick;
          end
        end
      end
    end
  end
endmodule

module soc (
    input  wire clk,
    input  wire rst,
    output wire [127:0] trace,
    inout  wire [7:0] dbg
);
  wire [3:0] req, grant;
  wire [15:0] addr0, addr1, addr2, addr3;
  wire [31:0] wdata0, wdata1, wdata2, wdata3;
  wire [1:0] st0, st1, st2, st3, last;
  wire [3:0] retire;
  reg  [255:0] mem_line;
  reg  dbg_en;

  core #(.SEED(32'h1234_5678)) u_core0 (clk, rst, grant[0], req[0], addr0, wdata0, st0, retire[0]);
  core #(.SEED(32'h9abc_def1)) u_core1 (clk, rst, grant[1], req[1], addr1, wdata1, st1, retire[1]);
  core #(.SEED(32'h0f0f_1357)) u_core2 (clk, rst, grant[2], req[2], addr2, wdata2, st2, retire[2]);
  core #(.SEED(32'h7531_2468)) u_core3 (clk, rst, grant[3], req[3], addr3, wdata3, st3, retire[3]);
  arbiter u_arb (clk, rst, req, grant, last);

  assign trace = {wdata3, wdata2, wdata1, wdata0};
  assign dbg = dbg_en ? {st3, st2, st1, st0} : 8'bz;

  always @(posedge clk)
    if (rst) begin
      mem_line <= 256'd0;
      dbg_en <= 1'b0;
    end else begin
      if (|grant) mem_line <= {mem_line[223:0], wdata0 ^ wdata1 ^ wdata2 ^ wdata3};
      dbg_en <= addr0[3];
    end
endmodule

module tb;
  reg clk = 1'b0;
  reg rst = 1'b1;
  wire [127:0] trace;
  wire [7:0] dbg;
  real power = 0.0;
  integer cycles = 0;
  integer limit;
  event tick;

  soc dut (
      .clk(clk),
      .rst(rst),
      .trace(trace),
      .dbg(dbg)
  );

  always #5 clk = ~clk;

  always @(posedge clk) begin
    cycles = cycles + 1;
    if (cycles % 16 == 0) begin
      power = 0.9 * power + 0.1 * (trace[7:0] / 64.0);
      ->tick;
    end
  end

  initial begin
    if (!$value$plusargs("cycles=%d", limit)) limit = 100000;
    $dumpfile("sim.vcd");
    $dumpvars(0, tb);
    #23 rst = 1'b0;
    repeat (limit) @(posedge clk);
    $finish;
  end
endmodule
