#pragma once
// HTTP GET on libcurl, with the system's proxy settings and time-outs that keep a hung server
// from holding the game for long.

#include "machine/services.h"

namespace vesquin {

struct HttpTimeouts {
  long connectMs = 5'000;
  long totalMs = 15'000;
};

class CurlHttp final : public Http {
 public:
  explicit CurlHttp(HttpTimeouts timeouts = {});
  ~CurlHttp() override;
  CurlHttp(const CurlHttp&) = delete;
  CurlHttp& operator=(const CurlHttp&) = delete;
  std::optional<HttpReply> Get(const std::string& url) override;

 private:
  HttpTimeouts timeouts_;
  bool globalReady_ = false;
};

}  // namespace vesquin
