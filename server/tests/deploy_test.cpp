// The deployment files: the systemd unit as systemd reads it, and the nginx site in front of a
// real server on loopback, with a certificate made for the test.

#include <curl/curl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/curl_http.h"
#include "scores/send_score.h"
#include "support.h"

extern char** environ;

namespace vesquin::scored {
namespace {

using namespace std::chrono_literals;
using testing::MakePlayer;
using testing::TempDir;

// Ports of this test: the server and nginx's plain and TLS listeners.
constexpr int kServerPort = 19410;
constexpr int kHttpPort = 19411;
constexpr int kHttpsPort = 19412;

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A child process with its output in a file; stopped (SIGTERM, then SIGKILL) when it goes.
class Process {
 public:
  Process(std::vector<std::string> args, const std::string& output) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Process() { Stop(); }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // The exit status, or -1 when it had to be killed.
  int Wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return -1;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return -1;
      }
      std::this_thread::sleep_for(10ms);
    }
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    Wait(5s);
  }
  bool Running() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

struct CommandResult {
  int status;
  std::string output;
};

CommandResult RunCommand(std::vector<std::string> args, const TempDir& dir,
                         std::chrono::seconds timeout = 60s) {
  static int n = 0;
  std::string output = dir.File("command" + std::to_string(n++) + ".out");
  Process p(std::move(args), output);
  int status = p.Wait(timeout);
  return {status, ReadFile(output)};
}

bool Executable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

// Replaces `from` in `text`, failing the test when the file no longer holds it.
void Substitute(std::string& text, const std::string& from, const std::string& to) {
  auto at = text.find(from);
  ASSERT_NE(at, std::string::npos) << "the file no longer holds: " << from;
  for (; at != std::string::npos; at = text.find(from, at + to.size())) text.replace(at, from.size(), to);
}

const std::string kDeploy = SCORED_DEPLOY_DIR;

TEST(SystemdUnit, VerifiesAndIsSandboxed) {
  if (!Executable("/usr/bin/systemd-analyze"))
    GTEST_SKIP() << "systemd-analyze is not installed; unit not checked";
  TempDir dir;
  std::string unit = ReadFile(kDeploy + "/vesquin-scored.service");
  // verify checks that the program exists: point it at the one just built.
  Substitute(unit, "/usr/local/bin/vesquin-scored", SCORED_BINARY);
  std::string path = dir.File("vesquin-scored.service");
  WriteFile(path, unit);
  auto verify = RunCommand({"systemd-analyze", "verify", path}, dir);
  EXPECT_EQ(verify.status, 0) << verify.output;
  EXPECT_EQ(verify.output, "") << "no warnings";

  auto security = RunCommand({"systemd-analyze", "security", "--offline=true", "--threshold=20", path}, dir);
  std::smatch m;
  ASSERT_TRUE(
      std::regex_search(security.output, m, std::regex("Overall exposure level for [^:]*: ([0-9.]+)")))
      << security.output;
  std::cout << "systemd exposure: " << m[1] << " (0 safest, 10 unprotected)\n";
  EXPECT_LT(std::stod(m[1]), 2.0) << security.output;
  for (const char* wanted : {"DynamicUser=yes", "StateDirectory=vesquin-scored", "ProtectSystem=strict",
                             "Restart=on-failure", "--trusted-proxy 127.0.0.1"})
    EXPECT_NE(unit.find(wanted), std::string::npos) << wanted;
}

// nginx with the site as shipped, moved onto the test's loopback ports and certificate.
class NginxSite : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Executable("/usr/sbin/nginx")) GTEST_SKIP() << "nginx is not installed; the site is not checked";
    if (!Executable("/usr/bin/openssl")) GTEST_SKIP() << "openssl is not installed; the site is not checked";
    // nginx's workers (nobody, when run as root) read below this folder.
    ::chmod(dir_.Path().c_str(), 0755);
    cert_ = dir_.File("cert.pem");
    auto made =
        RunCommand({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", dir_.File("key.pem"), "-out", cert_, "-days", "2", "-subj",
                    "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1"},
                   dir_);
    ASSERT_EQ(made.status, 0) << made.output;

    std::string site = ReadFile(kDeploy + "/nginx-vesquin-scored.conf");
    Substitute(site, "server 127.0.0.1:8480;", "server 127.0.0.1:" + std::to_string(kServerPort) + ";");
    Substitute(site, "listen 80;", "listen 127.0.0.1:" + std::to_string(kHttpPort) + ";");
    Substitute(site, "listen 443 ssl http2;",
               "listen 127.0.0.1:" + std::to_string(kHttpsPort) + " ssl http2;");
    Substitute(site, "listen [::]:80;", "");
    Substitute(site, "listen [::]:443 ssl http2;", "");
    Substitute(site, "/etc/ssl/vesquin-scored/fullchain.pem", cert_);
    Substitute(site, "/etc/ssl/vesquin-scored/privkey.pem", dir_.File("key.pem"));
    WriteFile(dir_.File("site.conf"), site);
    std::string prefix = dir_.Path().string();
    std::filesystem::create_directory(dir_.File("tmp"));
    ::chmod(dir_.File("tmp").c_str(), 0777);
    WriteFile(dir_.File("nginx.conf"),
              std::string(geteuid() == 0 ? "user nobody nogroup;\n" : "") +
                  "daemon off;\nworker_processes 1;\npid " + prefix + "/nginx.pid;\nerror_log " + prefix +
                  "/error.log;\nevents { worker_connections 128; }\nhttp {\n  access_log off;\n"
                  "  client_body_temp_path " +
                  prefix + "/tmp/body;\n  proxy_temp_path " + prefix +
                  "/tmp/proxy;\n"
                  "  fastcgi_temp_path " +
                  prefix + "/tmp/fastcgi;\n  uwsgi_temp_path " + prefix +
                  "/tmp/uwsgi;\n"
                  "  scgi_temp_path " +
                  prefix + "/tmp/scgi;\n  include " + prefix + "/site.conf;\n}\n");
  }
  std::vector<std::string> Nginx(std::vector<std::string> extra) {
    std::vector<std::string> args = {"/usr/sbin/nginx",      "-p", dir_.Path().string(),   "-e",
                                     dir_.File("error.log"), "-c", dir_.File("nginx.conf")};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  // vesquin-scored behind the site with nginx as its trusted proxy, as deployed; the TLS origin
  // once both answer.
  std::string Deploy(std::vector<std::string> options);

  TempDir dir_;
  std::string cert_;
  std::unique_ptr<Process> server_, nginx_;
};

struct Answer {
  long status = 0;
  std::string body, location, error;
};

// One GET from a given loopback source address, optionally with a header of the client's own.
Answer Get(const std::string& url, const std::string& source, const std::string& cert,
           const std::string& header = "") {
  Answer a;
  CURL* h = curl_easy_init();
  curl_slist* headers = header.empty() ? nullptr : curl_slist_append(nullptr, header.c_str());
  char error[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_INTERFACE, source.c_str());
  curl_easy_setopt(h, CURLOPT_CAINFO, cert.c_str());
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(h, CURLOPT_TIMEOUT, 10L);
  curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(
      h, CURLOPT_WRITEFUNCTION, +[](char* p, size_t size, size_t n, void* out) {
        static_cast<std::string*>(out)->append(p, size * n);
        return size * n;
      });
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &a.body);
  if (curl_easy_perform(h) == CURLE_OK) {
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &a.status);
    char* location = nullptr;
    curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &location);
    if (location) a.location = location;
  } else {
    a.error = error;
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(h);
  return a;
}

bool WaitForPort(const std::string& url, const std::string& cert) {
  for (int i = 0; i < 500; ++i) {
    if (Get(url, "127.0.0.1", cert).status != 0) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

std::string NginxSite::Deploy(std::vector<std::string> options) {
  std::vector<std::string> args = {SCORED_BINARY,
                                   "--db",
                                   dir_.File("scores.db"),
                                   "--listen",
                                   "127.0.0.1:" + std::to_string(kServerPort),
                                   "--trusted-proxy",
                                   "127.0.0.1"};
  args.insert(args.end(), options.begin(), options.end());
  server_ = std::make_unique<Process>(args, dir_.File("server.log"));
  nginx_ = std::make_unique<Process>(Nginx({}), dir_.File("nginx.out"));
  const std::string origin = "https://127.0.0.1:" + std::to_string(kHttpsPort);
  EXPECT_TRUE(WaitForPort("http://127.0.0.1:" + std::to_string(kServerPort) + "/vesquin/", cert_))
      << ReadFile(dir_.File("server.log"));
  EXPECT_TRUE(WaitForPort(origin + "/vesquin/", cert_)) << ReadFile(dir_.File("error.log"));
  return origin;
}

TEST_F(NginxSite, PassesNginxTest) {
  auto t = RunCommand(Nginx({"-t"}), dir_);
  EXPECT_EQ(t.status, 0) << t.output;
  EXPECT_NE(t.output.find("test is successful"), std::string::npos) << t.output;
}

TEST_F(NginxSite, TheGameSendsOverTlsToAServerWhoseCertificateItCanVerify) {
  const std::string origin = Deploy({});
  const PlayerDetails details{"Ada", "Lovelace", "12 St James's Square", "England"};
  CurlHttp http;
  // The certificate authority is the system's unless CURL_CA_BUNDLE or SSL_CERT_FILE names
  // another, as for curl.
  ::unsetenv("CURL_CA_BUNDLE");
  ::setenv("SSL_CERT_FILE", dir_.File("nowhere.pem").c_str(), 1);
  EXPECT_FALSE(http.Get(ScoreRequestPrefix(origin, "top1.php", details) + "60")) << "an unverified server";
  ::setenv("SSL_CERT_FILE", cert_.c_str(), 1);
  auto stored = http.Get(ScoreRequestPrefix(origin, "top1.php", details) + "60");
  auto place = http.Get(ScoreRequestPrefix(origin, "top2.php", details) + "60");
  ::unsetenv("SSL_CERT_FILE");
  ASSERT_TRUE(stored && place);
  EXPECT_EQ(place->body, "1");
  // Older builds send to the plain port; it still answers both requests.
  const std::string plain = "http://127.0.0.1:" + std::to_string(kHttpPort);
  EXPECT_EQ(http.Get(ScoreRequestPrefix(plain, "top2.php", details) + "60")->body, "1");
}

TEST_F(NginxSite, ThePageSendsItsScoreOverTlsTrustingOnlyTheBrowsersOwnStore) {
  const std::string browserDir = SCORED_BROWSER_DIR;
  if (!Executable("/usr/bin/chromium") && !std::getenv("CHROMIUM"))
    GTEST_SKIP() << "chromium is not installed";
  if (!Executable("/usr/bin/certutil")) GTEST_SKIP() << "certutil (libnss3-tools) is not installed";
  ASSERT_TRUE(std::filesystem::exists(browserDir + "/node_modules/playwright-core"))
      << "npm packages missing: run scripts/install-deps.sh";
  // The test's certificate authority goes into the NSS database that chromium reads on Linux.
  const std::string home = dir_.File("home");
  std::filesystem::create_directories(home + "/.pki/nssdb");
  const std::string nssdb = "sql:" + home + "/.pki/nssdb";
  ASSERT_EQ(RunCommand({"certutil", "-N", "-d", nssdb, "--empty-password"}, dir_).status, 0);
  ASSERT_EQ(RunCommand({"certutil", "-A", "-d", nssdb, "-n", "vesquin-test", "-t", "C,,", "-i", cert_}, dir_)
                .status,
            0);
  std::filesystem::create_directories(dir_.File("play"));
  WriteFile(dir_.File("play/index.html"), "<!DOCTYPE html><html lang=\"en\"><title>Vesquin</title></html>");
  const std::string origin = Deploy({"--play", dir_.File("play")});
  auto send = [&](const std::string& withHome) {
    return RunCommand({"env", "HOME=" + withHome, "node", browserDir + "/check_tls.mjs",
                       origin + "/vesquin/play/", testing::GameQuery(MakePlayer("Ada"), 68)},
                      dir_);
  };
  std::filesystem::create_directories(dir_.File("stranger"));
  EXPECT_NE(send(dir_.File("stranger")).status, 0)
      << "a browser that does not trust the authority sends nothing";
  auto sent = send(home);
  EXPECT_EQ(sent.status, 0) << sent.output;
  EXPECT_EQ(sent.output, "1\n") << "the place of the score the page sent";
}

TEST_F(NginxSite, RateLimitAndBansFollowTheClientOnlyFromTheTrustedProxy) {
  std::string db = dir_.File("scores.db");
  Process server({SCORED_BINARY, "--db", db, "--listen", "127.0.0.1:" + std::to_string(kServerPort),
                  "--rate-limit", "2", "--trusted-proxy", "127.0.0.1"},
                 dir_.File("server.log"));
  Process nginx(Nginx({}), dir_.File("nginx.out"));
  std::string direct = "http://127.0.0.1:" + std::to_string(kServerPort);
  std::string https = "https://127.0.0.1:" + std::to_string(kHttpsPort);
  std::string http = "http://127.0.0.1:" + std::to_string(kHttpPort);
  ASSERT_TRUE(WaitForPort(direct + "/vesquin/", cert_)) << ReadFile(dir_.File("server.log"));
  ASSERT_TRUE(WaitForPort(https + "/vesquin/", cert_)) << ReadFile(dir_.File("error.log"));

  int n = 0;
  auto submit = [&](const std::string& base, const std::string& source, const std::string& header = "") {
    return Get(base + "/vesquin/top1.php?" + testing::GameQuery(MakePlayer("p" + std::to_string(n++)), 50),
               source, cert_, header);
  };
  // Through nginx each client has a limit of its own, whatever it writes in the header itself.
  EXPECT_EQ(submit(https, "127.0.0.3").status, 200) << submit(https, "127.0.0.3").error;
  EXPECT_EQ(submit(https, "127.0.0.3", "X-Forwarded-For: 198.51.100.1").status, 200);
  EXPECT_EQ(submit(https, "127.0.0.3", "X-Forwarded-For: 198.51.100.2").status, 429)
      << "a forged entry is ignored";
  EXPECT_EQ(submit(https, "127.0.0.4").status, 200) << "another client is not held by the first one's limit";
  EXPECT_EQ(submit(http, "127.0.0.4").status, 200) << "the plain port passes submissions on too";
  EXPECT_EQ(submit(http, "127.0.0.4").status, 429);

  // Straight to the server from a peer that is not a trusted proxy, the header counts for nothing.
  EXPECT_EQ(submit(direct, "127.0.0.5", "X-Forwarded-For: 203.0.113.1").status, 200);
  EXPECT_EQ(submit(direct, "127.0.0.5", "X-Forwarded-For: 203.0.113.2").status, 200);
  EXPECT_EQ(submit(direct, "127.0.0.5", "X-Forwarded-For: 203.0.113.3").status, 429);

  // A ban names the client as nginx saw it.
  auto banned = RunCommand({SCORED_BINARY, "admin", "--db", db, "ban", "127.0.0.6"}, dir_);
  ASSERT_EQ(banned.status, 0) << banned.output;
  EXPECT_EQ(submit(https, "127.0.0.6").status, 403);
  EXPECT_EQ(submit(https, "127.0.0.7", "X-Forwarded-For: 127.0.0.6").status, 200);

  // The page is served over TLS; plain HTTP moves there.
  Answer page = Get(https + "/vesquin/", "127.0.0.8", cert_);
  EXPECT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("<table"), std::string::npos);
  Answer moved = Get(http + "/vesquin/", "127.0.0.8", cert_);
  EXPECT_EQ(moved.status, 301);
  EXPECT_EQ(moved.location, "https://127.0.0.1/vesquin/");

  std::string log = ReadFile(dir_.File("server.log"));
  EXPECT_NE(log.find("127.0.0.3 (via 127.0.0.1) GET /vesquin/top1.php 429"), std::string::npos) << log;
  EXPECT_NE(log.find("127.0.0.6 (via 127.0.0.1) GET /vesquin/top1.php 403"), std::string::npos) << log;
  EXPECT_EQ(log.find("198.51.100."), std::string::npos) << "a forged address never names the client";
  nginx.Stop();
  server.Stop();
}

}  // namespace
}  // namespace vesquin::scored
