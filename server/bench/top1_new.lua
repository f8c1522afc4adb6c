-- wrk script: top1 submissions, each from a new player (as many players send their first score).
dofile(os.getenv("BENCH_DIR") .. "/top2.lua")

local counter = 0
local tag = ""

function setup(thread)
  thread:set("thread_tag", tostring(math.random(1, 1e9)))
end

function init(args)
  math.randomseed(os.time() + tonumber(tostring({}):sub(8), 16) % 100000)
  tag = (thread_tag or "t") .. "x" .. math.random(1, 1e9)
end

function request()
  counter = counter + 1
  return wrk.format("GET", "/vesquin/top1.php?first_name=new" .. tag .. "n" .. counter ..
    "&last_name=Player&addr=1%20New%20Road&country=Benchland&score=" .. math.random(1, 100))
end
