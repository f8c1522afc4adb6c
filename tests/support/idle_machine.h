#pragma once
// Every service of the machine, doing nothing: a clock that stands still, no files, no window,
// no network, no controller. For a Game whose screens a test or a benchmark calls directly.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "machine/services.h"

namespace vesquin::testing {

class IdleMachine final : public Clock, public FileSystem, public Http, public Window, public Controller {
 public:
  std::uint64_t NowMs() override { return 0; }
  void Sleep(std::uint32_t) override {}
  std::int64_t CalendarSeconds() override { return 0; }
  std::optional<std::vector<std::uint8_t>> ReadExisting(const std::string&, std::size_t) override {
    return std::nullopt;
  }
  bool ReplaceExisting(const std::string&, std::span<const std::uint8_t>) override { return false; }
  std::vector<std::string> ListFolder(const std::string&) override { return {}; }
  std::optional<HttpReply> Get(const std::string&) override { return std::nullopt; }
  std::optional<std::string> ExecutablePath() override { return std::nullopt; }
  std::unique_ptr<SoundDevice> CreateSoundDevice() override { return nullptr; }
  bool StartTimer(std::uint32_t, std::uint32_t) override { return false; }
  void KillTimer(std::uint32_t) override {}
  void ShowError(const std::string&) override {}
  void Close() override {}
  int Create() override { return -1; }
  int Poll() override { return -1; }
  void Release() override {}
};

}  // namespace vesquin::testing
