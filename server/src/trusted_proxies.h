#pragma once
// Reverse proxies in front of the server (one that terminates TLS, say). Only from their peers
// is the client address read from X-Forwarded-For; anyone else could write what they liked there.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "result.h"

namespace vesquin::scored {

class TrustedProxies {
 public:
  // "ADDR" or "ADDR/PREFIX", IPv4 or IPv6.
  Status Add(std::string_view network);
  bool Empty() const { return networks_.empty(); }
  bool Contains(std::string_view numericAddress) const;
  // The peer, or when the peer is a trusted proxy the right-most X-Forwarded-For entry that is
  // not one (each proxy appends the address it was reached from). Falls back to the peer when the
  // list holds no such entry or that entry is not an address.
  std::string ClientOf(std::string_view peer, std::string_view forwardedFor) const;

 private:
  struct Network {
    std::array<unsigned char, 16> bytes{};  // IPv4 as IPv4-mapped IPv6
    unsigned prefix = 128;
  };
  std::vector<Network> networks_;
};

// The numeric text of an address in one form (IPv4-mapped IPv6 as plain IPv4), or nothing.
std::optional<std::string> CanonicalAddress(std::string_view text);

}  // namespace vesquin::scored
