#include "http_server.hpp"

#include <microhttpd.h>
#include <netdb.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace vesquin::scored {
namespace {

// Room for a 4 KiB URL and ordinary headers; anything larger MHD itself refuses.
constexpr std::size_t kConnectionMemory = 16 * 1024;

class UniqueFd {
public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

private:
  int fd_;
};

struct ResponseDestroyer {
  void operator()(MHD_Response* r) const { MHD_destroy_response(r); }
};

std::string NumericAddress(const sockaddr* sa) {
  if (sa == nullptr) return "-";
  socklen_t len = sa->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  char host[NI_MAXHOST];
  if (getnameinfo(sa, len, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) return "-";
  return host;
}

std::string UtcNow() {
  auto now = std::chrono::system_clock::now();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000));
  return buf;
}

const char* TerminationText(MHD_RequestTerminationCode toe) {
  switch (toe) {
    case MHD_REQUEST_TERMINATED_COMPLETED_OK: return nullptr;
    case MHD_REQUEST_TERMINATED_WITH_ERROR: return "connection error";
    case MHD_REQUEST_TERMINATED_TIMEOUT_REACHED: return "timed out";
    case MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN: return "server stopping";
    case MHD_REQUEST_TERMINATED_READ_ERROR: return "read error";
    case MHD_REQUEST_TERMINATED_CLIENT_ABORT: return "client closed";
  }
  return "closed";
}

}  // namespace

struct HttpServer::RequestContext {
  std::string raw_uri;
  std::string client;
  std::string method;
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  bool headers_seen = false;
  bool answered = false;
  unsigned status = 0;
  std::size_t bytes = 0;
  std::string note;
};

struct Callbacks {
  using Ctx = HttpServer::RequestContext;

  // Called once per request with the URL as received, before MHD decodes it.
  static void* OnUri(void* cls, const char* uri, MHD_Connection* connection) noexcept {
    auto* self = static_cast<HttpServer*>(cls);
    try {
      auto ctx = std::make_unique<Ctx>();
      ctx->raw_uri = uri ? uri : "";
      const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
      ctx->client = NumericAddress(info ? info->client_addr : nullptr);
      {
        std::lock_guard lock(self->inflight_mutex_);
        ++self->inflight_;
      }
      // Owned by MHD from here; OnCompleted takes it back.
      return ctx.release();
    } catch (...) {
      return nullptr;
    }
  }

  static MHD_Result OnAccess(void* cls, MHD_Connection* connection, const char* /*url*/, const char* method,
                             const char* /*version*/, const char* /*upload_data*/, std::size_t* upload_data_size,
                             void** req_cls) noexcept {
    auto* self = static_cast<HttpServer*>(cls);
    auto* ctx = static_cast<Ctx*>(*req_cls);
    if (ctx == nullptr) return MHD_NO;  // out of memory in OnUri: drop the connection
    if (ctx->answered) {
      *upload_data_size = 0;  // a body is never read; the answer is already queued
      return MHD_YES;
    }
    try {
      const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
      const char* chunked =
          MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING);
      bool has_body = *upload_data_size > 0 || chunked != nullptr || (length && std::strcmp(length, "0") != 0);
      // Without a body, answer on the second call, once MHD has the whole request: an answer
      // queued earlier makes MHD close the connection instead of keeping it alive.
      if (!has_body && !ctx->headers_seen) {
        ctx->headers_seen = true;
        return MHD_YES;
      }
      ctx->answered = true;
      ctx->method = method ? method : "";

      HttpResponse answer = self->service_.Handle({ctx->method, ctx->raw_uri, ctx->client, has_body});
      std::unique_ptr<MHD_Response, ResponseDestroyer> response(MHD_create_response_from_buffer(
          answer.body.size(), answer.body.data(), MHD_RESPMEM_MUST_COPY));
      if (!response) return MHD_NO;
      MHD_add_response_header(response.get(), MHD_HTTP_HEADER_CONTENT_TYPE, answer.content_type.c_str());
      for (const auto& [name, value] : answer.headers)
        MHD_add_response_header(response.get(), name.c_str(), value.c_str());
      ctx->status = answer.status;
      ctx->bytes = answer.body.size();
      ctx->note = std::move(answer.note);
      return MHD_queue_response(connection, answer.status, response.get());
    } catch (...) {
      return MHD_NO;
    }
  }

  static void OnCompleted(void* cls, MHD_Connection* /*connection*/, void** req_cls,
                          MHD_RequestTerminationCode toe) noexcept {
    auto* self = static_cast<HttpServer*>(cls);
    std::unique_ptr<Ctx> ctx(static_cast<Ctx*>(*req_cls));
    *req_cls = nullptr;
    if (!ctx) return;
    try {
      auto elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - ctx->started);
      // The query is left out: it holds players' postal addresses.
      std::string path = ctx->raw_uri.substr(0, ctx->raw_uri.find('?'));
      if (path.size() > 200) path = path.substr(0, 200) + "...";
      char timing[32];
      std::snprintf(timing, sizeof timing, "%.1fms", elapsed.count());
      std::string line = UtcNow() + " " + ctx->client + " " + (ctx->method.empty() ? "-" : ctx->method) + " " +
                         path + " " + (ctx->status ? std::to_string(ctx->status) : "-") + " " +
                         std::to_string(ctx->bytes) + "B " + timing;
      if (!ctx->note.empty()) line += " " + ctx->note;
      if (const char* why = TerminationText(toe)) line += std::string(" (") + why + ")";
      self->log_(line);
    } catch (...) {
      // Logging must never take a request down.
    }
    std::lock_guard lock(self->inflight_mutex_);
    if (--self->inflight_ == 0) self->inflight_done_.notify_all();
  }

  static void OnMhdError(void* cls, const char* format, va_list args) noexcept {
    auto* self = static_cast<HttpServer*>(cls);
    char buf[512];
    std::vsnprintf(buf, sizeof buf, format, args);
    std::string line = UtcNow() + " libmicrohttpd: " + buf;
    while (!line.empty() && line.back() == '\n') line.pop_back();
    try {
      self->log_(line);
    } catch (...) {
    }
  }
};

void HttpServer::DaemonStopper::operator()(MHD_Daemon* d) const { MHD_stop_daemon(d); }

void LogToStderr(const std::string& line) {
  static std::mutex mutex;
  std::string out = line + "\n";
  std::lock_guard lock(mutex);
  std::size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::write(STDERR_FILENO, out.data() + done, out.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

Result<ListenAddress> ParseListenAddress(const std::string& text) {
  using R = Result<ListenAddress>;
  std::string host, port;
  if (!text.empty() && text.front() == '[') {
    auto close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
      return R::Fail("listen address must look like [IPv6]:PORT: " + text);
    host = text.substr(1, close - 1);
    port = text.substr(close + 2);
  } else {
    auto colon = text.rfind(':');
    if (colon == std::string::npos) return R::Fail("listen address must look like ADDR:PORT: " + text);
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  if (host.empty() || port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(port) > 65535)
    return R::Fail("listen address must look like ADDR:PORT with a port from 0 to 65535: " + text);

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0)
    return R::Fail("cannot resolve listen address " + text + ": " + gai_strerror(rc));
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> guard(found, &freeaddrinfo);
  ListenAddress out;
  std::memcpy(&out.storage, found->ai_addr, found->ai_addrlen);
  out.length = found->ai_addrlen;
  out.ipv6 = found->ai_family == AF_INET6;
  return R::Ok(out);
}

Result<std::unique_ptr<HttpServer>> HttpServer::Start(Service& service, const ServerOptions& options, LogSink log) {
  using R = Result<std::unique_ptr<HttpServer>>;
  auto address = ParseListenAddress(options.listen);
  if (!address) return R::Fail(address.error());
  std::unique_ptr<HttpServer> server(new HttpServer(service, std::move(log)));

  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_USE_ITC | MHD_USE_ERROR_LOG;
  if (address->ipv6) flags |= MHD_USE_IPv6;
  MHD_Daemon* daemon = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &Callbacks::OnAccess, server.get(),
      // The logger first, so that MHD's complaints about later options reach it too.
      MHD_OPTION_EXTERNAL_LOGGER, &Callbacks::OnMhdError, server.get(),
      MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&address->storage),
      MHD_OPTION_THREAD_POOL_SIZE, options.threads,
      MHD_OPTION_CONNECTION_LIMIT, options.max_connections,
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, options.max_per_address,
      MHD_OPTION_CONNECTION_TIMEOUT, options.timeout_seconds,
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory,
      MHD_OPTION_LISTENING_ADDRESS_REUSE, 1u,
      MHD_OPTION_URI_LOG_CALLBACK, &Callbacks::OnUri, server.get(),
      MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::OnCompleted, server.get(),
      MHD_OPTION_END);
  if (daemon == nullptr) return R::Fail("cannot listen on " + options.listen + " (address in use or not local?)");
  server->daemon_.reset(daemon);
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
  server->port_ = info ? info->port : 0;
  return R::Ok(std::move(server));
}

HttpServer::~HttpServer() { Stop(); }

void HttpServer::Stop(std::chrono::milliseconds drain) {
  if (!daemon_) return;
  {
    // Quiesce hands the listening socket back; closing it at once refuses new clients.
    UniqueFd listener(MHD_quiesce_daemon(daemon_.get()));
  }
  {
    std::unique_lock lock(inflight_mutex_);
    inflight_done_.wait_for(lock, drain, [this] { return inflight_ == 0; });
  }
  daemon_.reset();
}

}  // namespace vesquin::scored
