#include "options.h"

#include <charconv>

#include "trusted_proxies.h"

namespace vesquin::scored {
namespace {

bool ParseUnsigned(const std::string& text, unsigned min, unsigned max, unsigned& out) {
  unsigned value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size() || value < min || value > max) return false;
  out = value;
  return true;
}

}  // namespace

std::string Usage() {
  return "usage: vesquin-scored [options]\n"
         "       vesquin-scored admin [--db DB] COMMAND ...   (the operator's commands; admin --help)\n"
         "  --db FILE|URI           the score table: an SQLite file (default ./scores.db), or a\n"
         "                          PostgreSQL database as postgresql://... (several servers may share it)\n"
         "  --listen ADDR:PORT      address to serve on (default 127.0.0.1:8480; [::]:PORT for IPv6)\n"
         "  --rate-limit N          top1 submissions (and top2 asks) per minute per address, 0 for none\n"
         "                          (default 10)\n"
         "  --keep-addresses DAYS   the log keeps client and postal addresses this long (default 30)\n"
         "  --threads N             worker threads (default 4)\n"
         "  --max-connections N     open connections in all (default 64)\n"
         "  --max-per-address N     open connections per client address (default 8)\n"
         "  --timeout S             seconds before a stalled connection is closed (default 10)\n"
         "  --request-timeout S     seconds from a connection's start (or its last answer) to a\n"
         "                          complete request head, whatever trickles in (default 5)\n"
         "  --trusted-proxy ADDR[/PREFIX]\n"
         "                          a reverse proxy whose X-Forwarded-For names the client; repeatable\n"
         "  --play DIR              serve the game's browser build from DIR at /vesquin/play/\n"
         "  --help, --version\n";
}

Result<Options> ParseOptions(const std::vector<std::string>& args) {
  using R = Result<Options>;
  Options o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      o.help = true;
      continue;
    }
    if (arg == "--version") {
      o.version = true;
      continue;
    }
    // Both "--key value" and "--key=value".
    std::string key = arg, value;
    if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      key = arg.substr(0, eq);
      value = arg.substr(eq + 1);
    } else {
      if (i + 1 >= args.size()) return R::Fail(arg + " needs a value (or unknown option)");
      value = args[++i];
    }
    auto number = [&](unsigned min, unsigned max, unsigned& out) {
      return ParseUnsigned(value, min, max, out);
    };
    bool ok = true;
    if (key == "--db") {
      ok = !value.empty();
      o.db = value;
    } else if (key == "--listen") {
      ok = ParseListenAddress(value).operator bool();
      o.server.listen = value;
    } else if (key == "--rate-limit") {
      ok = number(0, 1000000, o.rateLimitPerMinute);
    } else if (key == "--keep-addresses") {
      ok = number(1, 36500, o.keepAddressesDays);
    } else if (key == "--threads") {
      ok = number(1, 256, o.server.threads);
    } else if (key == "--max-connections") {
      ok = number(1, 100000, o.server.maxConnections);
    } else if (key == "--max-per-address") {
      ok = number(1, 100000, o.server.maxPerAddress);
    } else if (key == "--play") {
      ok = !value.empty();
      o.play = value;
    } else if (key == "--timeout") {
      ok = number(1, 3600, o.server.timeoutSeconds);
    } else if (key == "--request-timeout") {
      ok = number(1, 3600, o.server.requestTimeoutSeconds);
    } else if (key == "--trusted-proxy") {
      ok = TrustedProxies().Add(value).ok;
      o.server.trustedProxies.push_back(value);
    } else {
      return R::Fail("unknown option " + key);
    }
    if (!ok) return R::Fail("bad value for " + key + ": '" + value + "'");
  }
  return R::Ok(o);
}

}  // namespace vesquin::scored
