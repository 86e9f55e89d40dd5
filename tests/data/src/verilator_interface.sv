// Fixture written by Verilator: an interface instance and a packed struct traced with
// --trace-structs; Verilator declares them as "$scope interface" and
// "$scope struct".
`timescale 1ns / 1ps

interface bus_if;
  logic [3:0] addr;
  logic valid;
endinterface

module top;
  typedef struct packed {
    logic [3:0] a;
    logic b;
  } pair_t;
  pair_t p;
  bus_if bus ();

  initial begin
    $dumpfile("verilator_interface.vcd");
    $dumpvars(0, top);
    p = '0;
    bus.addr = 4'd3;
    bus.valid = 1'b0;
    #5 p.a = 4'd9;
    p.b = 1'b1;
    bus.valid = 1'b1;
    #5 $finish;
  end
endmodule
