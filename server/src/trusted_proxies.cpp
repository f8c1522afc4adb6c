#include "trusted_proxies.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>

namespace vesquin::scored {
namespace {

constexpr std::array<unsigned char, 12> kMappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

// 16 bytes, IPv4 mapped; `v4` tells which form the text had.
std::optional<std::array<unsigned char, 16>> ParseAddress(std::string_view text, bool* v4 = nullptr) {
  std::string s(text);
  std::array<unsigned char, 16> out{};
  if (inet_pton(AF_INET, s.c_str(), out.data() + 12) == 1) {
    std::copy(kMappedPrefix.begin(), kMappedPrefix.end(), out.begin());
    if (v4) *v4 = true;
    return out;
  }
  if (inet_pton(AF_INET6, s.c_str(), out.data()) == 1) {
    if (v4) *v4 = std::equal(kMappedPrefix.begin(), kMappedPrefix.end(), out.begin());
    return out;
  }
  return std::nullopt;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::optional<std::string> CanonicalAddress(std::string_view text) {
  auto bytes = ParseAddress(text);
  if (!bytes) return std::nullopt;
  char buf[INET6_ADDRSTRLEN];
  bool mapped = std::equal(kMappedPrefix.begin(), kMappedPrefix.end(), bytes->begin());
  if (mapped ? !inet_ntop(AF_INET, bytes->data() + 12, buf, sizeof buf)
             : !inet_ntop(AF_INET6, bytes->data(), buf, sizeof buf))
    return std::nullopt;
  return std::string(buf);
}

Status TrustedProxies::Add(std::string_view network) {
  std::string_view address = network;
  std::optional<unsigned> prefix;
  if (auto slash = network.find('/'); slash != std::string_view::npos) {
    address = network.substr(0, slash);
    std::string_view digits = network.substr(slash + 1);
    unsigned value = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || ec != std::errc{} || end != digits.data() + digits.size())
      return Status::Fail("bad prefix length in " + std::string(network));
    prefix = value;
  }
  bool v4 = false;
  auto bytes = ParseAddress(address, &v4);
  if (!bytes) return Status::Fail("not an IP address: " + std::string(address));
  unsigned max = v4 ? 32 : 128;
  if (prefix && *prefix > max)
    return Status::Fail("prefix longer than " + std::to_string(max) + ": " + std::string(network));
  Network n;
  n.bytes = *bytes;
  n.prefix = (v4 ? 96 : 0) + prefix.value_or(max);
  networks_.push_back(n);
  return Status::Ok();
}

bool TrustedProxies::Contains(std::string_view numericAddress) const {
  auto bytes = ParseAddress(numericAddress);
  if (!bytes) return false;
  for (const Network& n : networks_) {
    bool match = true;
    for (unsigned bit = 0; bit < n.prefix && match; bit += 8) {
      unsigned bits = std::min(8u, n.prefix - bit);
      unsigned char mask = static_cast<unsigned char>(0xFF << (8 - bits));
      match = ((*bytes)[bit / 8] & mask) == (n.bytes[bit / 8] & mask);
    }
    if (match) return true;
  }
  return false;
}

std::string TrustedProxies::ClientOf(std::string_view peer, std::string_view forwardedFor) const {
  if (!Contains(peer)) return std::string(peer);
  std::string_view rest = forwardedFor;
  while (!rest.empty()) {
    auto comma = rest.rfind(',');
    std::string_view entry = Trim(comma == std::string_view::npos ? rest : rest.substr(comma + 1));
    rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(0, comma);
    if (entry.empty()) continue;
    auto canonical = CanonicalAddress(entry);
    if (!canonical) break;
    if (!Contains(*canonical)) return *canonical;
  }
  return std::string(peer);
}

}  // namespace vesquin::scored
