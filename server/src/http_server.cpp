#include "http_server.h"

#include <fcntl.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "rate_limit.h"
#include "text.h"

namespace vesquin::scored {
namespace {

// Room for a 4 KiB URL and generous headers, so that the answers for requests too large are
// this server's own (with its headers); only a request beyond this gets libmicrohttpd's page.
constexpr std::size_t kConnectionMemory = 32 * 1024;
constexpr std::size_t kMaxHeaderBytes = 8 * 1024;
// How often the accept loop looks for connections past their deadline.
constexpr int kTickMs = 100;
// A served client that closed its side is given this long for its request head, already read,
// to reach the service before the connection is taken as deserted.
constexpr auto kDesertedGrace = std::chrono::milliseconds(250);
// What of a request the log keeps: enough to tell requests apart, never a client's flood.
constexpr std::size_t kLoggedMethodBytes = 16;
constexpr std::size_t kLoggedPathBytes = 200;
constexpr std::size_t kLoggedNoteBytes = 200;
constexpr std::size_t kLoggedAddressBytes = 64;

using Clock = std::chrono::steady_clock;

struct ResponseDestroyer {
  void operator()(MHD_Response* r) const { MHD_destroy_response(r); }
};

std::string NumericAddress(const sockaddr* sa) {
  if (sa == nullptr) return "-";
  socklen_t len = sa->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  char host[NI_MAXHOST];
  if (getnameinfo(sa, len, host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0) return "-";
  // A dual-stack socket sees IPv4 clients as ::ffff:a.b.c.d; they are logged and limited as IPv4.
  return CanonicalAddress(host).value_or(host);
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
    case MHD_REQUEST_TERMINATED_COMPLETED_OK:
      return nullptr;
    case MHD_REQUEST_TERMINATED_WITH_ERROR:
      return "connection error";
    case MHD_REQUEST_TERMINATED_TIMEOUT_REACHED:
      return "timed out";
    case MHD_REQUEST_TERMINATED_DAEMON_SHUTDOWN:
      return "server stopping";
    case MHD_REQUEST_TERMINATED_READ_ERROR:
      return "read error";
    case MHD_REQUEST_TERMINATED_CLIENT_ABORT:
      return "client closed";
  }
  return "closed";
}

ConnectionTable::Id SlotOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info ? reinterpret_cast<std::uintptr_t>(info->socket_context) : 0;
}

std::string Cut(std::string_view text, std::size_t most) {
  if (text.size() <= most) return std::string(text);
  return std::string(text.substr(0, most)) + "...";
}

struct HeaderScan {
  std::size_t bytes = 0;
  std::string forwardedFor;  // every X-Forwarded-For header, joined in order
  std::optional<std::string> contentLength;
  const char* malformed = nullptr;
};

MHD_Result ScanHeader(void* cls, MHD_ValueKind, const char* key, size_t keySize, const char* value,
                      size_t valueSize) {
  auto* scan = static_cast<HeaderScan*>(cls);
  scan->bytes += keySize + valueSize + 4;
  if (key && strcasecmp(key, "X-Forwarded-For") == 0 && value) {
    if (!scan->forwardedFor.empty()) scan->forwardedFor += ",";
    scan->forwardedFor.append(value, valueSize);
  }
  if (key && strcasecmp(key, MHD_HTTP_HEADER_CONTENT_LENGTH) == 0 && value) {
    // Two lengths that disagree are how requests are smuggled past a proxy.
    std::string length(value, valueSize);
    if (scan->contentLength && *scan->contentLength != length)
      scan->malformed = "conflicting Content-Length headers";
    scan->contentLength = std::move(length);
  }
  return MHD_YES;
}

// Whether a client that closed its side left no whole request head behind: then no answer can
// ever be given. A head already in the socket is still answered, as HTTP allows.
bool Deserted(int fd) {
  pollfd p{fd, POLLRDHUP, 0};
  if (::poll(&p, 1, 0) != 1 || !(p.revents & (POLLRDHUP | POLLHUP | POLLERR))) return false;
  char buf[kMaxHeaderBytes + 4096];
  const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_PEEK | MSG_DONTWAIT);
  if (n <= 0) return true;
  std::string_view pending(buf, static_cast<std::size_t>(n));
  return pending.find("\r\n\r\n") == std::string_view::npos && pending.find("\n\n") == std::string_view::npos;
}

}  // namespace

struct HttpServer::RequestContext {
  std::string rawUri;
  std::string peer;
  std::string client;
  std::string method;
  // Where the HTTP version must start if the request line held no NUL: libmicrohttpd splits the
  // line in place, and a NUL inside the URL would cut it short of the version.
  const char* versionExpected = nullptr;
  Clock::time_point started = Clock::now();
  MHD_Connection* connection = nullptr;
  bool headersSeen = false;
  bool handed = false;  // given to the service
  bool queued = false;  // the answer is with libmicrohttpd
  unsigned status = 0;
  std::size_t bytes = 0;
  std::string note;

  // Between the service's reply, possibly from the store's writer thread, and libmicrohttpd's.
  std::mutex mutex;
  std::optional<HttpResponse> reply;
  bool suspended = false;
};

struct Callbacks {
  using Ctx = HttpServer::RequestContext;
  // What libmicrohttpd holds per request: the context is shared with a pending reply.
  using Holder = std::shared_ptr<Ctx>;

  // Called once per request with the URL as received, before MHD decodes it.
  static void* OnUri(void* cls, const char* uri, MHD_Connection* connection) noexcept {
    auto* self = static_cast<HttpServer*>(cls);
    try {
      auto ctx = std::make_shared<Ctx>();
      ctx->rawUri = uri ? uri : "";
      if (uri) ctx->versionExpected = uri + ctx->rawUri.size() + 1;
      ctx->connection = connection;
      const MHD_ConnectionInfo* info =
          MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
      ctx->peer = NumericAddress(info ? info->client_addr : nullptr);
      ctx->client = ctx->peer;
      {
        std::lock_guard lock(self->inflightMutex_);
        ++self->inflight_;
      }
      // Owned by MHD from here; OnCompleted takes it back.
      return new Holder(std::move(ctx));
    } catch (...) {
      return nullptr;
    }
  }

  static MHD_Result OnAccess(void* cls, MHD_Connection* connection, const char* /*url*/, const char* method,
                             const char* version, const char* /*upload_data*/, std::size_t* uploadDataSize,
                             void** reqCls) noexcept {
    auto* self = static_cast<HttpServer*>(cls);
    auto* holder = static_cast<Holder*>(*reqCls);
    if (holder == nullptr) return MHD_NO;  // out of memory in OnUri: drop the connection
    Ctx& ctx = **holder;
    if (ctx.queued) {
      *uploadDataSize = 0;  // a body is never read; the answer is already queued
      return MHD_YES;
    }
    try {
      if (!ctx.handed) {
        const char* length =
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
        const char* chunked =
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING);
        bool hasBody = *uploadDataSize > 0 || chunked != nullptr || (length && std::strcmp(length, "0") != 0);
        HeaderScan scan;
        MHD_get_connection_values_n(connection, MHD_HEADER_KIND, &ScanHeader, &scan);
        if (version != ctx.versionExpected) scan.malformed = "NUL byte in the request line";
        bool firstCall = !ctx.headersSeen;
        if (firstCall) {
          ctx.headersSeen = true;
          std::lock_guard lock(self->slotsMutex_);
          self->table_.RequestStarted(SlotOf(connection));
        }
        // Without a body, answer on the second call, once MHD has the whole request: an answer
        // queued earlier makes MHD close the connection instead of keeping it alive, as it must
        // for a request that cannot be read safely.
        if (!hasBody && !scan.malformed && firstCall) return MHD_YES;
        ctx.method = method ? method : "";
        ctx.client = self->proxies_.ClientOf(ctx.peer, scan.forwardedFor);
        ctx.handed = true;
        auto header = [connection](const char* name) -> std::string_view {
          const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
          return value ? value : "";
        };
        HttpRequest request{ctx.method,
                            ctx.rawUri,
                            ctx.client,
                            hasBody,
                            scan.bytes > kMaxHeaderBytes,
                            scan.malformed ? scan.malformed : "",
                            {header(MHD_HTTP_HEADER_IF_NONE_MATCH), header(MHD_HTTP_HEADER_IF_MODIFIED_SINCE),
                             header(MHD_HTTP_HEADER_RANGE), header(MHD_HTTP_HEADER_IF_RANGE)}};
        Holder keep = *holder;
        {
          std::lock_guard count(self->inflightMutex_);
          ++self->pendingReplies_;
        }
        self->service_.Handle(request, [keep, self](HttpResponse r) {
          {
            std::lock_guard lock(keep->mutex);
            keep->reply = std::move(r);
            if (keep->suspended) {
              keep->suspended = false;
              MHD_resume_connection(keep->connection);
            }
          }
          std::lock_guard count(self->inflightMutex_);
          if (--self->pendingReplies_ == 0) self->inflightDone_.notify_all();
        });
      }
      std::optional<HttpResponse> answer;
      {
        std::lock_guard lock(ctx.mutex);
        if (!ctx.reply) {
          // The store answers later, from its writer; no worker thread waits for it meanwhile.
          MHD_suspend_connection(connection);
          ctx.suspended = true;
          return MHD_YES;
        }
        answer = std::move(ctx.reply);
        ctx.reply.reset();
      }
      const std::uint64_t bodyFromFile = answer->file ? answer->fileLength : 0;
      std::unique_ptr<MHD_Response, ResponseDestroyer> response;
      if (answer->file) {
        // libmicrohttpd reads the file as it sends (sendfile where it can) and closes it after.
        response.reset(MHD_create_response_from_fd_at_offset64(answer->fileLength, answer->file.Get(),
                                                               answer->fileOffset));
        if (response) answer->file.Release();
      } else {
        response.reset(
            MHD_create_response_from_buffer(answer->body.size(), answer->body.data(), MHD_RESPMEM_MUST_COPY));
      }
      if (!response) return MHD_NO;
      MHD_add_response_header(response.get(), MHD_HTTP_HEADER_CONTENT_TYPE, answer->contentType.c_str());
      for (const auto& [name, value] : answer->headers)
        MHD_add_response_header(response.get(), name.c_str(), value.c_str());
      ctx.status = answer->status;
      ctx.bytes = answer->body.size() + bodyFromFile;
      ctx.note = std::move(answer->note);
      ctx.queued = true;
      return MHD_queue_response(connection, answer->status, response.get());
    } catch (...) {
      return MHD_NO;
    }
  }

  static void OnCompleted(void* cls, MHD_Connection* connection, void** reqCls,
                          MHD_RequestTerminationCode toe) noexcept {
    auto* self = static_cast<HttpServer*>(cls);
    std::unique_ptr<Holder> holder(static_cast<Holder*>(*reqCls));
    *reqCls = nullptr;
    if (!holder) return;
    Ctx& ctx = **holder;
    try {
      bool closedHere = false;
      {
        std::lock_guard lock(self->slotsMutex_);
        auto id = SlotOf(connection);
        self->table_.RequestEnded(id, Clock::now());
        if (auto it = self->slots_.find(id); it != self->slots_.end()) closedHere = it->second.closedHere;
      }
      if (!ctx.queued) {
        // Never answered: counted with the refusals rather than a line each, since a flood of
        // these is what an attack looks like. This side's own reason was noted when it closed.
        if (!closedHere) {
          const char* why = TerminationText(toe);
          self->NoteRefusal(std::string("request unfinished: ") + (why ? why : "closed"), ctx.client);
        }
      } else {
        auto elapsed = std::chrono::duration<double, std::milli>(Clock::now() - ctx.started);
        // The query is left out: it holds players' postal addresses.
        std::string path =
            Cut(std::string_view(ctx.rawUri).substr(0, ctx.rawUri.find('?')), kLoggedPathBytes);
        char timing[32];
        std::snprintf(timing, sizeof timing, "%.1fms", elapsed.count());
        std::string who = Cut(ctx.client, kLoggedAddressBytes);
        if (ctx.client != ctx.peer) who += " (via " + Cut(ctx.peer, kLoggedAddressBytes) + ")";
        std::string line = UtcNow() + " " + who + " " +
                           (ctx.method.empty() ? "-" : Cut(ctx.method, kLoggedMethodBytes)) + " " + path +
                           " " + std::to_string(ctx.status) + " " + std::to_string(ctx.bytes) + "B " + timing;
        if (!ctx.note.empty()) line += " " + Cut(ctx.note, kLoggedNoteBytes);
        if (const char* why = TerminationText(toe)) line += std::string(" (") + why + ")";
        if (self->logBudget_.Take(RateLimitKey(ctx.client), line.size(), Clock::now())) self->Log(line);
      }
    } catch (...) {
      // Logging must never take a request down.
    }
    std::lock_guard lock(self->inflightMutex_);
    if (--self->inflight_ == 0) self->inflightDone_.notify_all();
  }

  static void OnConnection(void* cls, MHD_Connection* connection, void** socketContext,
                           MHD_ConnectionNotificationCode code) noexcept {
    auto* self = static_cast<HttpServer*>(cls);
    std::lock_guard lock(self->slotsMutex_);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
      const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
      if (!info) return;
      auto it = self->starting_.find(info->connect_fd);
      if (it == self->starting_.end()) return;
      *socketContext = reinterpret_cast<void*>(static_cast<std::uintptr_t>(it->second));
      self->starting_.erase(it);
      return;
    }
    auto id = static_cast<ConnectionTable::Id>(reinterpret_cast<std::uintptr_t>(*socketContext));
    if (id == 0) return;
    self->slots_.erase(id);  // closes the duplicate; libmicrohttpd closes its own socket
    self->table_.Closed(id);
    self->Wake();  // a slot is free: someone waiting may be served
  }

  static void OnMhdError(void* cls, const char* format, va_list args) noexcept {
    auto* self = static_cast<HttpServer*>(cls);
    char buf[512];
    std::vsnprintf(buf, sizeof buf, format, args);
    std::string line = std::string("libmicrohttpd: ") + buf;
    while (!line.empty() && line.back() == '\n') line.pop_back();
    try {
      // One line per closed connection would flood the log under attack; the format is the kind.
      if (auto first = self->refusals_.Note(format, line, Clock::now())) self->Log(UtcNow() + " " + *first);
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
  if (host.empty() || port.empty() || port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) > 65535)
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

HttpServer::HttpServer(Service& service, const ServerOptions& options, LogSink log)
    : service_(service),
      log_(std::move(log)),
      options_(options),
      table_(ConnectionLimits{options.maxConnections, options.maxPerAddress, 4 * options.maxConnections,
                              std::chrono::seconds(options.requestTimeoutSeconds)}) {}

Result<std::unique_ptr<HttpServer>> HttpServer::Start(Service& service, const ServerOptions& options,
                                                      LogSink log) {
  using R = Result<std::unique_ptr<HttpServer>>;
  auto address = ParseListenAddress(options.listen);
  if (!address) return R::Fail(address.Error());
  std::unique_ptr<HttpServer> server(new HttpServer(service, options, std::move(log)));
  for (const std::string& network : options.trustedProxies)
    if (auto st = server->proxies_.Add(network); !st) return R::Fail("--trusted-proxy: " + st.error);

  const int family = address->ipv6 ? AF_INET6 : AF_INET;
  server->listener_ = UniqueFd(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!server->listener_) return R::Fail(std::string("cannot create a socket: ") + std::strerror(errno));
  int one = 1, zero = 0;
  setsockopt(server->listener_.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  // [::] serves IPv4 clients too.
  if (address->ipv6) setsockopt(server->listener_.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
  if (::bind(server->listener_.Get(), reinterpret_cast<sockaddr*>(&address->storage), address->length) != 0 ||
      ::listen(server->listener_.Get(), SOMAXCONN) != 0)
    return R::Fail("cannot listen on " + options.listen + ": " + std::strerror(errno));
  sockaddr_storage bound{};
  socklen_t boundLength = sizeof bound;
  getsockname(server->listener_.Get(), reinterpret_cast<sockaddr*>(&bound), &boundLength);
  server->port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                           : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  server->wake_ = UniqueFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!server->wake_) return R::Fail(std::string("cannot create an eventfd: ") + std::strerror(errno));

  // The accept loop keeps the count; libmicrohttpd's own limit only has to stay out of its way,
  // with room for connections that are closing.
  unsigned mhdLimit = (2 * options.maxConnections + 16) * options.threads;
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_USE_NO_LISTEN_SOCKET |
                   MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
  if (address->ipv6) flags |= MHD_USE_IPv6;
  MHD_Daemon* daemon = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &Callbacks::OnAccess, server.get(),
      // The logger first, so that MHD's complaints about later options reach it too.
      MHD_OPTION_EXTERNAL_LOGGER, &Callbacks::OnMhdError, server.get(), MHD_OPTION_THREAD_POOL_SIZE,
      options.threads, MHD_OPTION_CONNECTION_LIMIT, mhdLimit, MHD_OPTION_CONNECTION_TIMEOUT,
      options.timeoutSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory,
      MHD_OPTION_URI_LOG_CALLBACK, &Callbacks::OnUri, server.get(), MHD_OPTION_NOTIFY_COMPLETED,
      &Callbacks::OnCompleted, server.get(), MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::OnConnection,
      server.get(), MHD_OPTION_END);
  if (daemon == nullptr) return R::Fail("cannot start the HTTP daemon for " + options.listen);
  server->daemon_.reset(daemon);
  server->acceptor_ = std::thread([s = server.get()] { s->AcceptLoop(); });
  return R::Ok(std::move(server));
}

HttpServer::~HttpServer() { Stop(); }

void HttpServer::Log(const std::string& line) { log_(EscapeForLog(line)); }

void HttpServer::NoteRefusal(const std::string& reason, const std::string& client) {
  if (auto line = refusals_.Note(reason, client + " " + reason, Clock::now())) Log(UtcNow() + " " + *line);
}

void HttpServer::Wake() {
  std::uint64_t one = 1;
  [[maybe_unused]] auto n = ::write(wake_.Get(), &one, sizeof one);
}

void HttpServer::CloseLocked(ConnectionTable::Id id) {
  auto it = slots_.find(id);
  if (it == slots_.end()) return;
  Slot& slot = it->second;
  if (slot.fd) {
    // Still waiting here: libmicrohttpd never saw it.
    slots_.erase(it);
    table_.Closed(id);
    return;
  }
  // Served: cutting the socket makes libmicrohttpd close it and report it closed.
  slot.closedHere = true;
  ::shutdown(slot.watch.Get(), SHUT_RDWR);
}

void HttpServer::Serve(ConnectionTable::Id id) {
  int fd;
  sockaddr_storage address;
  socklen_t length;
  {
    std::lock_guard lock(slotsMutex_);
    auto it = slots_.find(id);
    if (it == slots_.end()) return;
    Slot& slot = it->second;
    slot.watch = UniqueFd(::fcntl(slot.fd.Get(), F_DUPFD_CLOEXEC, 0));
    if (!slot.watch) {
      slots_.erase(it);
      table_.Closed(id);
      return;
    }
    fd = slot.fd.Release();
    if (slot.peerClosedAt) slot.peerClosedAt = Clock::now();  // its head's grace runs from now
    address = slot.address;
    length = slot.addressLength;
    starting_[fd] = id;
  }
  // Outside the lock: libmicrohttpd may report the connection from its own threads at once.
  if (MHD_add_connection(daemon_.get(), fd, reinterpret_cast<sockaddr*>(&address), length) != MHD_YES) {
    // libmicrohttpd has closed the socket.
    std::lock_guard lock(slotsMutex_);
    if (auto it = starting_.find(fd); it != starting_.end() && it->second == id) starting_.erase(it);
    slots_.erase(id);
    table_.Closed(id);
  }
}

void HttpServer::AcceptReady(std::vector<ConnectionTable::Id>& toServe) {
  std::vector<std::pair<std::string, std::string>> notes;  // reason, client; logged outside the lock
  // A bounded batch, so that deadlines are looked at even under a flood.
  for (int i = 0; i < 64; ++i) {
    {
      // Past this, further clients wait in the kernel's accept queue.
      std::lock_guard lock(slotsMutex_);
      if (!table_.CanHoldMore()) break;
    }
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    UniqueFd fd(::accept4(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &length,
                          SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd) break;  // EAGAIN, or the peer gave up already
    std::string peer = NumericAddress(reinterpret_cast<sockaddr*>(&address));
    if (Deserted(fd.Get())) {
      notes.emplace_back("closed: the client closed before a whole request head", peer);
      continue;  // never takes a place
    }
    int one = 1;
    setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    bool trusted = proxies_.Contains(peer);

    std::lock_guard lock(slotsMutex_);
    ConnectionTable::Id id = nextId_++;
    auto admission = table_.Arrive(id, RateLimitKey(peer), trusted, Clock::now());
    if (admission.verdict == ConnectionTable::Verdict::kRefuse) {
      notes.emplace_back(
          "refused: " + std::to_string(options_.maxPerAddress) + " connections from this address already",
          peer);
      continue;  // fd closes here
    }
    Slot& slot = slots_[id];
    slot.fd = std::move(fd);
    slot.address = address;
    slot.addressLength = length;
    slot.peer = peer;
    if (admission.evict) {
      const char* why = "closed: its slot went to a less busy address";
      if (auto it = slots_.find(*admission.evict); it != slots_.end())
        notes.emplace_back(why, it->second.peer);
      CloseLocked(*admission.evict);
    }
    if (admission.verdict == ConnectionTable::Verdict::kServe) toServe.push_back(id);
  }
  for (auto& [reason, client] : notes) NoteRefusal(reason, client);
}

void HttpServer::DropDeserted(const std::vector<pollfd>& polled, const std::vector<ConnectionTable::Id>& ids,
                              std::vector<std::string>& peers) {
  const auto now = Clock::now();
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (!(polled[i + 2].revents & (POLLRDHUP | POLLHUP | POLLERR))) continue;
    auto it = slots_.find(ids[i]);
    if (it == slots_.end()) continue;
    Slot& slot = it->second;
    if (slot.fd) {
      // Still waiting here: what it sent is all in the socket.
      if (Deserted(slot.fd.Get())) {
        peers.push_back(slot.peer);
        CloseLocked(ids[i]);
      } else {
        slot.peerClosedAt = now;  // a whole head waits: it is answered once served
      }
    } else {
      slot.peerClosedAt = now;
    }
  }
  // Served ones: libmicrohttpd may have read a whole head and be about to hand it on.
  std::vector<ConnectionTable::Id> deserted;
  for (const auto& [id, slot] : slots_)
    if (!slot.fd && slot.peerClosedAt && !slot.closedHere && now - *slot.peerClosedAt >= kDesertedGrace &&
        !table_.InRequest(id) && Deserted(slot.watch.Get()))
      deserted.push_back(id);
  for (auto id : deserted) {
    peers.push_back(slots_[id].peer);
    table_.Closed(id);
    CloseLocked(id);
  }
}

void HttpServer::AcceptLoop() {
  const std::string deadlineReason =
      "closed: request head not complete within " + std::to_string(options_.requestTimeoutSeconds) + " s";
  std::vector<pollfd> fds;
  std::vector<ConnectionTable::Id> watched;  // the connection of each pollfd past the first two
  while (!stopping_.load()) {
    fds.clear();
    watched.clear();
    {
      std::lock_guard lock(slotsMutex_);
      fds.push_back({wake_.Get(), POLLIN, 0});
      fds.push_back({listener_.Get(), static_cast<short>(table_.CanHoldMore() ? POLLIN : 0), 0});
      // Every connection that owes a request head, so that one whose client closed its side
      // gives its place back at once rather than at its deadline.
      for (const auto& [id, slot] : slots_) {
        if (slot.closedHere || slot.peerClosedAt || table_.InRequest(id)) continue;
        fds.push_back({slot.fd ? slot.fd.Get() : slot.watch.Get(), POLLRDHUP, 0});
        watched.push_back(id);
      }
    }
    ::poll(fds.data(), fds.size(), kTickMs);
    if (fds[0].revents & POLLIN) {
      std::uint64_t count;
      [[maybe_unused]] auto n = ::read(wake_.Get(), &count, sizeof count);
    }
    if (stopping_.load()) break;

    std::vector<ConnectionTable::Id> toServe;
    std::vector<std::string> expiredPeers, desertedPeers;
    {
      std::lock_guard lock(slotsMutex_);
      DropDeserted(fds, watched, desertedPeers);
    }
    if (fds[1].revents & POLLIN) AcceptReady(toServe);
    {
      std::lock_guard lock(slotsMutex_);
      auto now = Clock::now();
      for (auto id : table_.Expired(now)) {
        auto it = slots_.find(id);
        if (it == slots_.end()) continue;
        expiredPeers.push_back(it->second.peer);
        CloseLocked(id);
      }
      for (auto id : table_.Promote(now)) toServe.push_back(id);
    }
    for (auto id : toServe) Serve(id);
    for (const auto& peer : expiredPeers) NoteRefusal(deadlineReason, peer);
    for (const auto& peer : desertedPeers)
      NoteRefusal("closed: the client closed before a whole request head", peer);
    for (const auto& line : refusals_.Flush(Clock::now())) Log(UtcNow() + " " + line);
    if (auto dropped = logBudget_.Summary(Clock::now())) Log(UtcNow() + " " + *dropped);
  }
}

void HttpServer::Stop(std::chrono::milliseconds drain) {
  if (!daemon_) return;
  // Closing the listening socket refuses new clients at once.
  stopping_ = true;
  Wake();
  if (acceptor_.joinable()) acceptor_.join();
  listener_.Reset();
  {
    // Connections that were still waiting never reached the service; they are simply closed.
    std::lock_guard lock(slotsMutex_);
    for (auto it = slots_.begin(); it != slots_.end();) {
      if (it->second.fd) {
        table_.Closed(it->first);
        it = slots_.erase(it);
      } else {
        ++it;
      }
    }
  }
  {
    std::unique_lock lock(inflightMutex_);
    inflightDone_.wait_for(lock, drain, [this] { return inflight_ == 0; });
    // libmicrohttpd must not be stopped with a connection suspended; the store answers every
    // submission within its bound, so this wait ends.
    inflightDone_.wait(lock, [this] { return pendingReplies_ == 0; });
  }
  daemon_.reset();
  std::lock_guard lock(slotsMutex_);
  slots_.clear();
  starting_.clear();
}

}  // namespace vesquin::scored
