#pragma once
// Who gets a connection slot. Pure bookkeeping, no sockets: the HTTP front asks it what to do
// with each accepted connection and which connections to close.
//
// - At most `max_active` connections are served at once; the rest wait (first in this table,
//   then in the kernel's accept queue once `max_waiting` are held here).
// - An address (an IPv6 /64 counts as one) holds at most `max_per_address`.
// - Every served connection must have sent its whole request head within `request_deadline`
//   of being served (or of its previous answer, on a kept-alive connection), whatever it trickles.
// - When the slots are full, a newcomer takes the slot of an idle connection of an address that
//   holds at least two more than the newcomer's, so a few addresses can never crowd out the rest;
//   failing that, the slot of the connection kept alive idle the longest since its last answer.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace vesquin::scored {

struct ConnectionLimits {
  unsigned maxActive = 64;
  unsigned maxPerAddress = 8;
  unsigned maxWaiting = 256;
  std::chrono::milliseconds requestDeadline{5000};
};

class ConnectionTable {
 public:
  using Clock = std::chrono::steady_clock;
  using Id = std::uint64_t;

  enum class Verdict { kServe, kWait, kRefuse };
  struct Admission {
    Verdict verdict = Verdict::kRefuse;
    std::optional<Id> evict;  // close this one: its slot went to the newcomer
  };

  explicit ConnectionTable(ConnectionLimits limits) : limits_(limits) {}

  // `exempt`: not held to the per-address limit nor evicted for fairness (a trusted proxy).
  Admission Arrive(Id id, const std::string& addressKey, bool exempt, Clock::time_point now);
  // The request head is complete: the connection is busy and no longer subject to the deadline.
  void RequestStarted(Id id);
  // The answer is sent; a kept-alive connection has a fresh deadline for its next request.
  void RequestEnded(Id id, Clock::time_point now);
  // Served connections idle or trickling past their deadline; they are marked as closing.
  std::vector<Id> Expired(Clock::time_point now);
  // Waiting connections to serve now, those of the addresses served least first.
  std::vector<Id> Promote(Clock::time_point now);
  // The connection is gone (closed by either side).
  void Closed(Id id);

  // Whether the connection's request head is complete and its answer not yet sent.
  bool InRequest(Id id) const;
  bool CanHoldMore() const { return waiting_ < limits_.maxWaiting; }
  std::size_t Active() const { return active_; }
  std::size_t Waiting() const { return waiting_; }

 private:
  enum class State { kWaiting, kActive, kClosing };
  struct Entry {
    std::string key;
    bool exempt = false;
    State state = State::kWaiting;
    bool inRequest = false;
    bool answered = false;       // has had an answer: between requests it idles, kept alive
    Clock::time_point since;     // when it arrived or was last served
    Clock::time_point deadline;  // for an active connection not in a request
  };
  struct Counts {
    unsigned active = 0;
    unsigned waiting = 0;
  };

  void SetState(Entry& e, State state);
  void Serve(Entry& e, Clock::time_point now);
  std::optional<Id> EvictionCandidate(const std::string& forKey, State among);
  std::optional<Id> LongestIdle() const;

  ConnectionLimits limits_;
  std::unordered_map<Id, Entry> entries_;
  std::unordered_map<std::string, Counts> byAddress_;
  std::size_t active_ = 0;
  std::size_t waiting_ = 0;
};

}  // namespace vesquin::scored
