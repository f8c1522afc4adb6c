#include "connection_table.h"

namespace vesquin::scored {

void ConnectionTable::SetState(Entry& e, State state) {
  Counts& c = byAddress_[e.key];
  if (e.state == State::kActive) --c.active, --active_;
  if (e.state == State::kWaiting) --c.waiting, --waiting_;
  e.state = state;
  if (state == State::kActive) ++c.active, ++active_;
  if (state == State::kWaiting) ++c.waiting, ++waiting_;
  if (c.active == 0 && c.waiting == 0) byAddress_.erase(e.key);
}

void ConnectionTable::Serve(Entry& e, Clock::time_point now) {
  SetState(e, State::kActive);
  e.since = now;
  e.deadline = now + limits_.requestDeadline;
}

std::optional<ConnectionTable::Id> ConnectionTable::EvictionCandidate(const std::string& forKey,
                                                                      State among) {
  auto held = [&](const std::string& key) {
    auto it = byAddress_.find(key);
    if (it == byAddress_.end()) return 0u;
    return among == State::kActive ? it->second.active : it->second.active + it->second.waiting;
  };
  const unsigned mine = held(forKey);
  std::optional<Id> best;
  unsigned bestHeld = 0;
  Clock::time_point bestSince{};
  for (auto& [id, e] : entries_) {
    if (e.state != among || e.exempt || e.inRequest) continue;
    unsigned theirs = held(e.key);
    if (theirs < mine + 2) continue;
    // The heaviest address first; among its connections the one served longest (an active
    // one has had its chance) or, in the waiting list, the newest (it has waited least).
    bool better =
        !best || theirs > bestHeld ||
        (theirs == bestHeld && (among == State::kActive ? e.since < bestSince : e.since > bestSince));
    if (better) {
      best = id;
      bestHeld = theirs;
      bestSince = e.since;
    }
  }
  return best;
}

ConnectionTable::Admission ConnectionTable::Arrive(Id id, const std::string& addressKey, bool exempt,
                                                   Clock::time_point now) {
  Admission out;
  if (!exempt) {
    auto it = byAddress_.find(addressKey);
    if (it != byAddress_.end() && it->second.active + it->second.waiting >= limits_.maxPerAddress) return out;
  }
  Entry& e = entries_[id];
  e.key = addressKey;
  e.exempt = exempt;
  e.state = State::kClosing;  // counted nowhere until placed
  e.since = now;
  if (active_ < limits_.maxActive) {
    Serve(e, now);
    out.verdict = Verdict::kServe;
    return out;
  }
  std::optional<Id> victim;
  if (!exempt) victim = EvictionCandidate(addressKey, State::kActive);
  // A connection kept alive between requests holds a slot it is not using.
  if (!victim) victim = LongestIdle();
  if (victim) {
    SetState(entries_[*victim], State::kClosing);
    Serve(e, now);
    out.verdict = Verdict::kServe;
    out.evict = victim;
    return out;
  }
  if (waiting_ + 1 >= limits_.maxWaiting) {
    // The waiting list is full with this one: shed what the heaviest address holds there, so that
    // accepting goes on for the others. Only when no address holds two more is the accept queue used.
    if (auto victim = EvictionCandidate(addressKey, State::kWaiting)) {
      SetState(entries_[*victim], State::kClosing);
      out.evict = victim;
    }
  }
  SetState(e, State::kWaiting);
  out.verdict = Verdict::kWait;
  return out;
}

std::optional<ConnectionTable::Id> ConnectionTable::LongestIdle() const {
  std::optional<Id> best;
  Clock::time_point bestDeadline{};
  for (const auto& [id, e] : entries_) {
    if (e.state != State::kActive || e.inRequest || !e.answered) continue;
    // The deadline is a fixed time after the last answer: the earliest idled longest.
    if (!best || e.deadline < bestDeadline) {
      best = id;
      bestDeadline = e.deadline;
    }
  }
  return best;
}

bool ConnectionTable::InRequest(Id id) const {
  auto it = entries_.find(id);
  return it != entries_.end() && it->second.inRequest;
}

void ConnectionTable::RequestStarted(Id id) {
  if (auto it = entries_.find(id); it != entries_.end()) it->second.inRequest = true;
}

void ConnectionTable::RequestEnded(Id id, Clock::time_point now) {
  auto it = entries_.find(id);
  if (it == entries_.end()) return;
  it->second.inRequest = false;
  it->second.answered = true;
  it->second.deadline = now + limits_.requestDeadline;
}

std::vector<ConnectionTable::Id> ConnectionTable::Expired(Clock::time_point now) {
  std::vector<Id> out;
  for (auto& [id, e] : entries_) {
    if (e.state != State::kActive || e.inRequest || now < e.deadline) continue;
    SetState(e, State::kClosing);
    out.push_back(id);
  }
  return out;
}

std::vector<ConnectionTable::Id> ConnectionTable::Promote(Clock::time_point now) {
  std::vector<Id> out;
  while (active_ < limits_.maxActive && waiting_ > 0) {
    Entry* pick = nullptr;
    Id pickId = 0;
    unsigned pickActive = 0;
    for (auto& [id, e] : entries_) {
      if (e.state != State::kWaiting) continue;
      unsigned served = byAddress_[e.key].active;
      if (!pick || served < pickActive || (served == pickActive && e.since < pick->since)) {
        pick = &e;
        pickId = id;
        pickActive = served;
      }
    }
    Serve(*pick, now);
    out.push_back(pickId);
  }
  return out;
}

void ConnectionTable::Closed(Id id) {
  auto it = entries_.find(id);
  if (it == entries_.end()) return;
  SetState(it->second, State::kClosing);
  entries_.erase(it);
}

}  // namespace vesquin::scored
