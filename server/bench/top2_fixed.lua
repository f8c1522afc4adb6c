-- wrk script: top2 of one fixed player, the one at place 5 of the filled table (bench/fill.cpp:
-- players 21, 121, 221, 321 and 421 are the first five to reach 100).
dofile(os.getenv("BENCH_DIR") .. "/top2.lua")

local path = "/vesquin/top2.php" .. query(421, 100)

function request()
  return wrk.format("GET", path)
end
