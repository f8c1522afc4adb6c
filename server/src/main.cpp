// vesquin-scored: the on-line score table that the game sends its scores to.

#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <iostream>

#include "admin.h"
#include "admin_store.h"
#include "http_server.h"
#include "open_store.h"
#include "options.h"
#include "postgres.h"
#include "service.h"
#include "text.h"

using namespace vesquin::scored;

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "admin") {
    auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    return RunAdmin({args.begin() + 1, args.end()}, std::cin, std::cout, std::cerr, now.count());
  }
  auto options = ParseOptions(args);
  if (!options) {
    std::fprintf(stderr, "vesquin-scored: %s\n%s", options.Error().c_str(), Usage().c_str());
    return 2;
  }
  if (options->help) {
    std::fputs(Usage().c_str(), stdout);
    return 0;
  }
  if (options->version) {
    std::puts("vesquin-scored 1.0");
    return 0;
  }

  // Blocked before any thread starts, so every thread inherits the mask and only sigwait sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  auto store = OpenStore(options->db);
  if (!store) {
    std::fprintf(stderr, "vesquin-scored: %s\n", store.Error().c_str());
    return 1;
  }
  Service service(**store, ServiceOptions{options->rateLimitPerMinute, {}, {}, options->play});
  auto server = HttpServer::Start(service, options->server);
  if (!server) {
    std::fprintf(stderr, "vesquin-scored: %s\n", server.Error().c_str());
    return 1;
  }
  std::string where = options->server.listen.substr(0, options->server.listen.rfind(':'));
  LogToStderr(EscapeForLog("vesquin-scored: listening on " + where + ":" + std::to_string((*server)->Port()) +
                           ", table " + postgres::WithoutPassword(options->db)));

  // The log's addresses are kept only as long as the operator may need them to ban an abuser.
  std::mutex purgeMutex;
  std::condition_variable purgeStop;
  bool stopping = false;
  std::thread purger([&] {
    std::unique_lock lock(purgeMutex);
    do {
      lock.unlock();
      auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::system_clock::now().time_since_epoch());
      auto admin = OpenAdminStore(options->db, false);
      auto forgotten = admin ? ForgetOldAddresses(**admin, options->keepAddressesDays, now.count())
                             : Result<std::int64_t>::Fail(admin.Error());
      if (!forgotten)
        LogToStderr(EscapeForLog("vesquin-scored: cannot forget old addresses: " + forgotten.Error()));
      else if (*forgotten > 0)
        LogToStderr("vesquin-scored: forgot the addresses of " + std::to_string(*forgotten) +
                    " log entries older than " + std::to_string(options->keepAddressesDays) + " days");
      lock.lock();
    } while (!purgeStop.wait_for(lock, std::chrono::hours(1), [&] { return stopping; }));
  });

  int signalNumber = 0;
  sigwait(&stopSignals, &signalNumber);
  {
    std::lock_guard lock(purgeMutex);
    stopping = true;
  }
  purgeStop.notify_all();
  purger.join();
  LogToStderr(std::string("vesquin-scored: ") + (signalNumber == SIGINT ? "SIGINT" : "SIGTERM") +
              ", finishing requests under way");
  (*server)->Stop();
  LogToStderr("vesquin-scored: stopped");
  return 0;
}
