-- wrk script: top1 then top2 for the same random player, as the game sends them
-- (without the game's six-second pause). Each wrk thread alternates the two requests.
dofile(os.getenv("BENCH_DIR") .. "/top2.lua")

local pending = nil

function request()
  if pending then
    local r = wrk.format("GET", "/vesquin/top2.php" .. pending)
    pending = nil
    return r
  end
  local i = math.random(0, players - 1)
  pending = query(i, math.random(1, 100))
  return wrk.format("GET", "/vesquin/top1.php" .. pending)
end
