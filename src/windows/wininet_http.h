#pragma once
// HTTP GET through WinINet, with the system's proxy settings and the Linux build's rules:
// 5 s to connect, 15 s in all, redirects followed (five at most, to http or https only).

#include "machine/services.h"

namespace vesquin::windows {

struct HttpTimeouts {
  unsigned connectMs = 5'000;
  unsigned totalMs = 15'000;
};

class WinInetHttp final : public Http {
 public:
  explicit WinInetHttp(HttpTimeouts timeouts = {}) : timeouts_(timeouts) {}
  std::optional<HttpReply> Get(const std::string& url) override;

 private:
  HttpTimeouts timeouts_;
};

// Where a redirect from `base` to `location` goes: an absolute http or https address, a
// path on the same server, or an address relative to the base's folder. Nothing for any
// other scheme.
std::optional<std::string> RedirectTarget(const std::string& base, const std::string& location);

}  // namespace vesquin::windows
