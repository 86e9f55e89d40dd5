-- GHDL fixture: an entity instance, a for-generate (scopes gen(0), gen(1)),
-- std_logic values X and Z in upper case, bit, boolean, integer, unsigned
-- and real signals, and ranges glued to the names (data[3:0], asc[0:2]).
-- Every std_logic signal starts from a defined value, so no U appears.
library ieee;
use ieee.std_logic_1164.all;

entity leaf is
  port (
    clk : in  std_logic;
    d   : in  std_logic_vector(3 downto 0);
    q   : out std_logic_vector(3 downto 0) := (others => '0')
  );
end entity;

architecture rtl of leaf is
begin
  process (clk)
  begin
    if rising_edge(clk) then
      q <= d;
    end if;
  end process;
end architecture;

library ieee;
use ieee.std_logic_1164.all;
use ieee.numeric_std.all;

entity top is
end entity;

architecture sim of top is
  signal clk  : std_logic                    := '0';
  signal data : std_logic_vector(3 downto 0) := "0000";
  signal q0   : std_logic_vector(3 downto 0);
  signal asc  : std_logic_vector(0 to 2)     := "010";
  signal bt   : bit                          := '0';
  signal bv   : bit_vector(7 downto 0)       := x"00";
  signal flag : boolean                      := false;
  signal cnt  : integer range 0 to 15        := 0;
  signal u8   : unsigned(7 downto 0)         := (others => '0');
  signal r    : real                         := 1.5;
  signal zbus : std_logic_vector(1 downto 0) := "ZZ";
  signal done : std_logic                    := '0';
begin
  u0 : entity work.leaf port map (clk => clk, d => data, q => q0);

  gen : for i in 0 to 1 generate
    signal g : std_logic := '0';
  begin
    g <= data(i) when rising_edge(clk);
  end generate;

  clk <= not clk after 5 ns when done = '0';

  stim : process
  begin
    wait for 7 ns;
    data <= "10X1";
    zbus <= "Z1";
    wait for 10 ns;
    data <= "0011";
    cnt  <= 3;
    r    <= -2.25e-3;
    flag <= true;
    bt   <= '1';
    bv   <= x"a5";
    u8   <= x"ff";
    wait for 20 ns;
    done <= '1';
    wait;
  end process;
end architecture;
