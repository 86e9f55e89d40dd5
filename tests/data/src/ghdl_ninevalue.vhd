-- GHDL fixture: std_logic values beyond 0/1/X/Z (U, H, L, W, -), written by
-- GHDL as they are, and signals of types GHDL does not dump (an enumeration,
-- a character, a time), which it reports in $comment commands.
library ieee;
use ieee.std_logic_1164.all;

entity ninevalue is
end entity;

architecture sim of ninevalue is
  type state_t is (IDLE, RUN, HOLD);
  signal v  : std_logic_vector(3 downto 0);
  signal s  : std_logic;
  signal st : state_t   := IDLE;
  signal ch : character := 'a';
  signal t  : time      := 0 ns;
begin
  process
  begin
    wait for 1 ns;
    s  <= 'H';
    v  <= "LHW-";
    st <= RUN;
    ch <= 'b';
    t  <= 5 ns;
    wait for 1 ns;
    s  <= 'W';
    v  <= "01XZ";
    st <= HOLD;
    wait for 1 ns;
    s <= '-';
    v <= "UUUU";
    wait;
  end process;
end architecture;
