#include "scores/send_score.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "shell/game.h"

#include "scores/score_server.h"

#ifndef VESQUIN_SCORE_SERVER
#define VESQUIN_SCORE_SERVER "localhost:8480"
#endif

namespace vesquin {
namespace {

constexpr const char* kSendScoreClipNames[3] = {
    "game\\check_connected.vgz",
    "game\\sending_score.vgz",
    "game\\say_config_first.vgz",
};
constexpr int kPromptSlot = 0;
constexpr int kSendingSlot = 1;
constexpr int kConfigFirstSlot = 2;
// The server needs time to store the entry before it can rank it.
constexpr std::uint32_t kPauseBetweenRequestsMs = 6'000;
constexpr std::size_t kReplyReadLimit = 100'000;
static_assert(ParseScoreServer(VESQUIN_SCORE_SERVER),
              "VESQUIN_SCORE_SERVER must be https://host[:port], http://host[:port] or host[:port]");

SoundClip& Slot(Game& game, int slot) {
  return game.sendScore.sendScoreClips[static_cast<std::size_t>(slot)];
}

void StopSendScoreClips(Game& game) {
  for (SoundClip& clip : game.sendScore.sendScoreClips) game.sound.StopClip(clip);
}

void ReleaseSendScoreClips(Game& game) {
  for (SoundClip& clip : game.sendScore.sendScoreClips) game.sound.ReleaseClip(clip);
}

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

}  // namespace

std::string PercentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsUnreserved(c)) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::string ScoreServerOrigin() {
  constexpr ScoreServer kServer = *ParseScoreServer(VESQUIN_SCORE_SERVER);
  // A setting without a scheme is plain HTTP, as every build before the scheme could be named.
  if (kServer.origin.empty()) return "http://" + std::string(kServer.hostAndPort);
  return std::string(kServer.origin);
}

std::string ScoreRequestPrefix(std::string_view script, const PlayerDetails& details) {
  return ScoreRequestPrefix(ScoreServerOrigin(), script, details);
}

std::string ScoreRequestPrefix(std::string_view origin, std::string_view script,
                               const PlayerDetails& details) {
  // Every detail is escaped, so that an "&" or a space in a name stays inside its own field.
  std::string url = std::string(origin) + "/vesquin/";
  url += script;
  url += "?first_name=" + PercentEncode(details.firstName);
  url += "&last_name=" + PercentEncode(details.lastName);
  url += "&addr=" + PercentEncode(details.address);
  url += "&country=" + PercentEncode(details.country);
  url += "&score=";
  return url;
}

bool EnterSendScore(Game& game) {
  try {
    for (int slot = 0; slot < 3; ++slot) {
      Slot(game, slot) = game.sound.LoadClip(kSendScoreClipNames[slot]);
      if (!Slot(game, slot)) {
        ReleaseSendScoreClips(game);
        return false;
      }
    }
    game.sound.PlayClip(Slot(game, kPromptSlot), 0, 0);
    return true;
  } catch (...) {
    return false;
  }
}

void SendScoreKey(Game& game, int key) {
  if (key != vk::Y && key != vk::N && key != vk::Escape) return;
  try {
    StopSendScoreClips(game);
    if (key == vk::Y) {
      SendScore(game);
      StopSendScoreClips(game);
    }
  } catch (...) {
  }
  // Whatever happened, the screen always hands back to the menu with nothing held.
  try {
    ReleaseSendScoreClips(game);
  } catch (...) {
  }
  ReturnToMenu(game);
}

void SendScore(Game& game) {
  try {
    PlayerDetails details;
    if (!ReadPlayerDetails(game.sys.files, game.dataFolder, details)) {
      game.sound.PlayClipAndWait(Slot(game, kConfigFirstSlot), 0, 0);
      return;
    }
    BuildScoreRequest(game, details);
    game.sound.PlayClipAndWait(Slot(game, kSendingSlot), 0, 0);
    AppendScore(game);
    SubmitScore(game, details);
  } catch (...) {
  }
}

void BuildScoreRequest(Game& game, const PlayerDetails& details) {
  game.sendScore.scoreRequest = ScoreRequestPrefix("top1.php", details);
}

bool AppendScore(Game& game) {
  game.sendScore.scoreRequest += std::to_string(game.level.score);
  return true;
}

bool SubmitScore(Game& game, const PlayerDetails& details) {
  try {
    if (!game.sys.http.Get(game.sendScore.scoreRequest)) return false;  // the reply is never read
    game.sys.clock.Sleep(kPauseBetweenRequestsMs);
    FetchPlace(game, details);
    return true;
  } catch (...) {
    return false;
  }
}

void FetchPlace(Game& game, const PlayerDetails& details) {
  try {
    // Built afresh from the details rather than by editing the first URL, so that a detail
    // that happens to contain the script's name reaches the server unchanged.
    game.sendScore.scoreRequest = ScoreRequestPrefix("top2.php", details) + std::to_string(game.level.score);
    std::optional<HttpReply> reply = game.sys.http.Get(game.sendScore.scoreRequest);
    if (!reply || !reply->bodyRead) return;
    std::string body = std::move(reply->body);
    if (body.size() > kReplyReadLimit) body.resize(kReplyReadLimit);
    if (body.empty()) {
      SpeakNotEnough(game);
      return;
    }
    if (const std::size_t zero = body.find('\0'); zero != std::string::npos) body.resize(zero);
    AnnouncePlace(game, body);
  } catch (...) {
  }
}

void AnnouncePlace(Game& game, std::string_view reply) {
  if (reply.empty()) return;
  const char first = reply.front();
  if (first == '1') {
    // A lone "1" is the first place; "1" followed by anything is read as the tenth.
    SpeakPlace(game, reply.size() == 1 ? 1 : 10);
  } else if (first >= '2' && first <= '9') {
    SpeakPlace(game, first - '0');
  }
}

void SpeakPlace(Game& game, int place) {
  game.sound.PlayClipAndWait(game.numbers.numberClips[kSlotMadeIt], 0, 0);
  game.sound.PlayClipAndWait(game.numbers.numberClips[static_cast<std::size_t>(place)], 0, 0);
}

void SpeakNotEnough(Game& game) {
  try {
    game.sound.PlayClipAndWait(game.numbers.numberClips[kSlotNotEnough], 0, 0);
  } catch (...) {
  }
}

}  // namespace vesquin
