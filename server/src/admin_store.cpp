#include "admin_store.h"

#include <algorithm>
#include <set>
#include <unordered_set>

#include "rate_limit.h"
#include "trusted_proxies.h"

namespace vesquin::scored {
namespace {

std::string Describe(const char* what, std::int64_t id) {
  return std::string(what) + " " + std::to_string(id);
}

// Control bytes are let through: files of earlier servers may hold a trailing carriage return,
// and every reader escapes them anyway. The length has always been bounded.
std::optional<std::string> FieldProblem(const Player& p) {
  for (const std::string* f : {&p.firstName, &p.lastName, &p.addr, &p.country})
    if (f->size() > kMaxFieldBytes) return "a field longer than 99 bytes";
  return std::nullopt;
}

bool ScoreInRange(int score) { return score >= kMinScore && score <= kMaxScore; }

}  // namespace

Result<std::int64_t> ForgetOldAddresses(AdminStore& store, unsigned days, std::int64_t nowMs) {
  return store.ForgetAddresses(nowMs - static_cast<std::int64_t>(days) * kMsPerDay);
}

Result<std::string> BanKey(std::string_view addressOrNetwork) {
  using R = Result<std::string>;
  std::string_view address = addressOrNetwork;
  bool slash64 = false;
  if (auto slash = address.find('/'); slash != std::string_view::npos) {
    if (address.substr(slash + 1) != "64") return R::Fail("only an address or an IPv6 /64 can be banned");
    address = address.substr(0, slash);
    slash64 = true;
  }
  auto canonical = CanonicalAddress(address);
  if (!canonical) return R::Fail("'" + std::string(addressOrNetwork) + "' is not an IP address");
  bool v6 = canonical->find(':') != std::string::npos;
  if (slash64 && !v6) return R::Fail("a /64 is an IPv6 network; ban an IPv4 address on its own");
  return R::Ok(RateLimitKey(*canonical));
}

Status CheckDump(const Dump& dump) {
  std::unordered_set<std::int64_t> lineIds, logIds;
  std::set<std::tuple<std::string, std::string, std::string, std::string>> players;
  std::int64_t greatestLogId = 0;
  for (const LogRecord& r : dump.log) {
    std::string where = Describe("log entry", r.id);
    if (r.id <= 0 || !logIds.insert(r.id).second) return Status::Fail(where + ": a missing or repeated id");
    if (auto problem = FieldProblem(r.player)) return Status::Fail(where + ": " + *problem);
    if (!ScoreInRange(r.score)) return Status::Fail(where + ": score out of 1..100");
    // Empty once the entry's addresses were forgotten (see ForgetAddresses).
    if (r.client.size() > 64) return Status::Fail(where + ": a client address over 64 bytes");
    greatestLogId = std::max(greatestLogId, r.id);
  }
  for (const LineRecord& l : dump.lines) {
    std::string where = Describe("line", l.id);
    if (l.id <= 0 || !lineIds.insert(l.id).second) return Status::Fail(where + ": a missing or repeated id");
    if (auto problem = FieldProblem(l.player)) return Status::Fail(where + ": " + *problem);
    if (!ScoreInRange(l.bestScore)) return Status::Fail(where + ": score out of 1..100");
    if (!players.emplace(l.player.firstName, l.player.lastName, l.player.addr, l.player.country).second)
      return Status::Fail(where + ": the same player as an earlier line");
    // Ties rank by this id; a later submission, numbered above the log, must rank after the line.
    if (l.reachedSubmission <= 0 || l.reachedSubmission > greatestLogId)
      return Status::Fail(where + ": reached_submission is not an id of the log");
  }
  for (const LogRecord& r : dump.log)
    if (r.playerId && !lineIds.count(*r.playerId))
      return Status::Fail(Describe("log entry", r.id) + ": tied to a line that is not there");
  std::set<std::string> networks;
  for (const BanRecord& b : dump.bans) {
    auto key = BanKey(b.network);
    if (!key || *key != b.network) return Status::Fail("ban '" + b.network + "': not a ban key");
    if (!networks.insert(b.network).second) return Status::Fail("ban '" + b.network + "': repeated");
  }
  return Status::Ok();
}

}  // namespace vesquin::scored
