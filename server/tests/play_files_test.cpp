#include "play_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "service.h"
#include "sqlite_store.h"

namespace vesquin::scored {
namespace {

std::string Header(const HttpResponse& r, const std::string& name) {
  std::string value;
  int count = 0;
  for (const auto& [n, v] : r.headers) {
    if (n == name) {
      value = v;
      ++count;
    }
  }
  return count == 1 ? value : "(" + std::to_string(count) + " headers)";
}

// The body as the client receives it, from the file the answer holds.
std::string Body(const HttpResponse& r) {
  if (!r.file) return r.body;
  std::string bytes(r.fileLength, '\0');
  EXPECT_EQ(::pread(r.file.Get(), bytes.data(), bytes.size(), static_cast<off_t>(r.fileOffset)),
            static_cast<ssize_t>(bytes.size()));
  return bytes;
}

class PlayFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/vesquin-play-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    folder_ = name;
    Write("index.html", "<!DOCTYPE html>");
    Write("vesquin.wasm", std::string("\0asm", 4));
    Write("clips/game/intro.opus", "OggS");
    Write("manifest.webmanifest", "{}");
    Write(".hidden.js", "secret");
    Write("notes.txt", "text");
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  void Write(const std::string& relative, const std::string& body) {
    const std::filesystem::path path = folder_ + "/" + relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << body;
  }
  std::string folder_;
};

TEST_F(PlayFiles, ServesThePageAndItsFilesWithTheirTypesAndCaching) {
  std::optional<HttpResponse> page = ServePlayFile(folder_, "/vesquin/play/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200u);
  EXPECT_EQ(Body(*page), "<!DOCTYPE html>");
  EXPECT_EQ(page->contentType, "text/html; charset=utf-8");
  EXPECT_EQ(Header(*page, "Cache-Control"), "no-cache");
  EXPECT_NE(Header(*page, "Content-Security-Policy").find("script-src 'self' 'wasm-unsafe-eval'"),
            std::string::npos);
  EXPECT_EQ(Header(*page, "X-Frame-Options"), "DENY");
  // Cross-origin isolated, or the page cannot share the game's memory with its sound thread.
  EXPECT_EQ(Header(*page, "Cross-Origin-Opener-Policy"), "same-origin");
  EXPECT_EQ(Header(*page, "Cross-Origin-Embedder-Policy"), "require-corp");

  std::optional<HttpResponse> wasm = ServePlayFile(folder_, "/vesquin/play/vesquin.wasm");
  ASSERT_TRUE(wasm);
  EXPECT_EQ(wasm->contentType, "application/wasm");
  EXPECT_EQ(Body(*wasm).size(), 4u);

  // Clips are named with their content's version by the page, so they are kept for good.
  std::optional<HttpResponse> clip = ServePlayFile(folder_, "/vesquin/play/clips/game/intro.opus");
  ASSERT_TRUE(clip);
  EXPECT_EQ(clip->contentType, "audio/ogg");
  EXPECT_EQ(Header(*clip, "Cache-Control"), "public, max-age=31536000, immutable");

  // The app manifest, which the page's policy lets the browser read, so that it can be installed.
  std::optional<HttpResponse> manifest = ServePlayFile(folder_, "/vesquin/play/manifest.webmanifest");
  ASSERT_TRUE(manifest);
  EXPECT_EQ(manifest->contentType, "application/manifest+json");
  EXPECT_NE(Header(*page, "Content-Security-Policy").find("manifest-src 'self'"), std::string::npos);

  std::optional<HttpResponse> bare = ServePlayFile(folder_, "/vesquin/play");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->status, 301u);
  EXPECT_EQ(Header(*bare, "Location"), "/vesquin/play/");

  EXPECT_FALSE(ServePlayFile(folder_, "/vesquin/"));
  EXPECT_FALSE(ServePlayFile(folder_, "/vesquin/player"));
}

TEST_F(PlayFiles, ServesNothingOutsideThePagesOwnFiles) {
  for (const char* path : {"/vesquin/play/../play/index.html", "/vesquin/play/clips/../index.html",
                           "/vesquin/play/.hidden.js", "/vesquin/play/notes.txt", "/vesquin/play/missing.js",
                           "/vesquin/play//index.html", "/vesquin/play/clips", "/vesquin/play/clips/",
                           "/vesquin/play/%2e%2e/x.js", "/vesquin/play/index.html\\x"}) {
    std::optional<HttpResponse> r = ServePlayFile(folder_, path);
    ASSERT_TRUE(r) << path;
    EXPECT_EQ(r->status, 404u) << path;
  }
  // No folder given: the game is not served.
  std::optional<HttpResponse> none = ServePlayFile("", "/vesquin/play/");
  ASSERT_TRUE(none);
  EXPECT_EQ(none->status, 404u);
}

TEST_F(PlayFiles, ServesRegularFilesBeneathTheFolderOnlyWithoutWaitingOnAPipe) {
  ASSERT_EQ(::mkfifo((folder_ + "/pipe.js").c_str(), 0600), 0);
  const std::string outside = folder_ + "-outside";
  std::filesystem::create_directories(outside);
  std::ofstream(outside + "/secret.js") << "secret";
  std::filesystem::create_directory_symlink(outside, folder_ + "/subdir");
  std::filesystem::create_symlink(outside + "/secret.js", folder_ + "/link.js");
  for (const char* path :
       {"/vesquin/play/pipe.js", "/vesquin/play/subdir/secret.js", "/vesquin/play/link.js"}) {
    std::optional<HttpResponse> r = ServePlayFile(folder_, path);
    ASSERT_TRUE(r) << path;
    EXPECT_EQ(r->status, 404u) << path;
  }
  std::filesystem::remove_all(outside);
}

TEST_F(PlayFiles, AnswersConditionalAndRangeRequestsSoAReloadDownloadsNothingAgain) {
  Write("big.wasm", "0123456789");
  std::optional<HttpResponse> full = ServePlayFile(folder_, "/vesquin/play/big.wasm");
  ASSERT_TRUE(full);
  const std::string etag = Header(*full, "ETag"), modified = Header(*full, "Last-Modified");
  EXPECT_EQ(etag.front(), '"');
  EXPECT_NE(modified.find(" GMT"), std::string::npos);
  auto with = [&](RequestConditions c) { return *ServePlayFile(folder_, "/vesquin/play/big.wasm", c); };
  HttpResponse same = with({etag, "", "", ""});
  EXPECT_EQ(same.status, 304u);
  EXPECT_FALSE(same.file);
  EXPECT_EQ(with({"\"other\", W/" + etag, "", "", ""}).status, 304u);
  EXPECT_EQ(with({"\"other\"", modified, "", ""}).status, 200u) << "If-None-Match decides when both come";
  EXPECT_EQ(with({"", modified, "", ""}).status, 304u);
  EXPECT_EQ(with({"", "Thu, 01 Jan 1970 00:00:00 GMT", "", ""}).status, 200u);

  HttpResponse part = with({"", "", "bytes=2-4", ""});
  EXPECT_EQ(part.status, 206u);
  EXPECT_EQ(Body(part), "234");
  EXPECT_EQ(Header(part, "Content-Range"), "bytes 2-4/10");
  EXPECT_EQ(Body(with({"", "", "bytes=7-", ""})), "789");
  EXPECT_EQ(Body(with({"", "", "bytes=-2", ""})), "89");
  HttpResponse beyond = with({"", "", "bytes=10-", ""});
  EXPECT_EQ(beyond.status, 416u);
  EXPECT_EQ(Header(beyond, "Content-Range"), "bytes */10");
  EXPECT_EQ(with({"", "", "bytes=0-1,4-5", ""}).status, 200u) << "several ranges: the whole file";
  EXPECT_EQ(with({"", "", "bytes=2-4", "\"stale\""}).status, 200u) << "changed since: the whole file";
  EXPECT_EQ(with({"", "", "bytes=2-4", etag}).status, 206u);
}

TEST_F(PlayFiles, TheServiceKeepsThePagesPolicyAndItsOwnForTheRest) {
  char name[] = "/tmp/vesquin-play-db-XXXXXX";
  ASSERT_NE(::mkdtemp(name), nullptr);
  const std::string db = std::string(name) + "/scores.db";
  auto store = SqliteStore::Open(db);
  ASSERT_TRUE(store);
  ServiceOptions options;
  options.playFolder = folder_;
  Service service(**store, options);
  // Both answers are made at once: neither is a submission waiting for its commit.
  auto handle = [&service](const HttpRequest& request) {
    HttpResponse answer;
    service.Handle(request, [&answer](HttpResponse r) { answer = std::move(r); });
    return answer;
  };
  HttpResponse page = handle(HttpRequest{"GET", "/vesquin/play/?test", "127.0.0.1", false});
  EXPECT_EQ(page.status, 200u);
  EXPECT_NE(Header(page, "Content-Security-Policy").find("connect-src 'self'"), std::string::npos);
  EXPECT_EQ(Header(page, "X-Content-Type-Options"), "nosniff");
  HttpResponse table = handle(HttpRequest{"GET", "/vesquin/", "127.0.0.1", false});
  EXPECT_EQ(Header(table, "Content-Security-Policy"), "default-src 'none'; style-src 'unsafe-inline'");
  std::filesystem::remove_all(name);
}

}  // namespace
}  // namespace vesquin::scored
