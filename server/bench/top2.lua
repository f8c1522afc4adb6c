-- wrk script: top2 place queries for random players of the filled table.
players = tonumber(os.getenv("PLAYERS") or "100000")

function init(args)
  math.randomseed(os.time() + tonumber(tostring({}):sub(8), 16) % 100000)
end

function query(i, score)
  return "?first_name=bench" .. i .. "&last_name=Player&addr=" .. i ..
         "%20Bench%20Road&country=Benchland&score=" .. score
end

function request()
  local i = math.random(0, players - 1)
  return wrk.format("GET", "/vesquin/top2.php" .. query(i, 50))
end

function done(summary, latency, requests)
  local errors = summary.errors.connect + summary.errors.read + summary.errors.write +
                 summary.errors.status + summary.errors.timeout
  io.write(string.format("RESULT rps=%.1f p50=%.3f p90=%.3f p99=%.3f errors=%d\n",
    summary.requests / (summary.duration / 1e6), latency:percentile(50) / 1000,
    latency:percentile(90) / 1000, latency:percentile(99) / 1000, errors))
end
