// The committed clips as a listener hears them, judged by a speech recogniser
// (pocketsphinx with its US English model) held to small grammars: every
// number word among the number words, a teen against its tens word before
// "points" as the game's own mixer joins them, the compass words among
// themselves, and every phrase among all the game's texts. The word error
// rates are printed, one figure a line; any wrong recognition fails.
#include <gtest/gtest.h>
#include <pocketsphinx.h>
#include <samplerate.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "platform/mixer.h"
#include "sound/clip_file.h"
#include "support/test_data.h"

// sphinxbase 0.8 keeps the parse of every JSGF grammar it is given (one
// block per grammar, never freed): not ours to mend, and not to be reported
// as the game's leak.
extern "C" const char* __lsan_default_suppressions() { return "leak:libsphinxbase.so\n"; }

namespace {

namespace fs = std::filesystem;

const fs::path kRoot = VESQUIN_SOURCE_DIR;
const fs::path kData = kRoot / "data";
const std::string kModelDir = VESQUIN_POCKETSPHINX_MODELDIR;

constexpr int kRecogniserRate = 16'000;
constexpr int kClipRate = 48'000;
constexpr double kSilenceAroundSeconds = 0.3;  // the recogniser wants a little quiet on both sides

// Words of the game that the recogniser's dictionary lacks, in its phone set.
const std::map<std::string, std::string> kOwnWords = {{"vesquin", "V EH S K W IH N"},
                                                      {"config", "K AA N F IH G"}};

// The words each clip says, from the table the clips are made from: the words
// in brackets where a line has them, otherwise the whole line; lower case,
// without punctuation.
std::map<std::string, std::string> ClipWords() {
  std::map<std::string, std::string> words;
  std::ifstream in(kRoot / "assets" / "texts.tsv");
  for (std::string line; std::getline(in, line);) {
    const auto tab = line.find('\t');
    if (line.empty() || line[0] == '#' || tab == std::string::npos) continue;
    std::string text = line.substr(tab + 1);
    if (const auto open = text.find('['); open != std::string::npos)
      text = text.substr(open + 1, text.find(']') - open - 1);
    std::string clean;
    for (char c : text) {
      if (std::isalpha(static_cast<unsigned char>(c)) || c == '\'') {
        clean += char(std::tolower(static_cast<unsigned char>(c)));
      } else if (c == ' ' && !clean.empty() && clean.back() != ' ') {
        clean += ' ';
      }
    }
    while (!clean.empty() && clean.back() == ' ') clean.pop_back();
    words[line.substr(0, tab)] = clean;
  }
  return words;
}

std::vector<std::string> Split(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// Word-level edit distance: substitutions, insertions and deletions.
std::size_t WordErrors(const std::string& said, const std::string& heard) {
  const auto a = Split(said), b = Split(heard);
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

std::optional<vesquin::ClipImage> LoadClip(const std::string& clip) {
  static std::vector<std::vector<std::uint8_t>> kept;  // a ClipImage views its file's bytes
  kept.push_back(vesquin::testing::ReadFile(kData / (clip + ".vgz")));
  return vesquin::ParseClipImage(std::span<const std::uint8_t>(kept.back()));
}

// What the sound device plays: the game's mixer, clips started centred at full
// volume. The second clip starts `gapMs` after the first has ended, as the
// game's 50 ms tick starts the next word of a number 0 to 50 ms after the last.
std::vector<float> Mixed(const vesquin::ClipImage& first, const vesquin::ClipImage* second = nullptr,
                         int gapMs = 0) {
  vesquin::Mixer mixer(2);
  std::vector<std::int16_t> out;
  auto render = [&](std::size_t frames) {
    const std::size_t at = out.size();
    out.resize(at + 2 * frames);
    mixer.Render(out.data() + at, frames);
  };
  constexpr std::size_t kMs = kClipRate / 1000;
  auto playToEnd = [&](const vesquin::ClipImage& clip) {
    auto voice = mixer.CreateVoice(clip, false);
    if (!voice) return false;
    voice->Play(false);
    while (voice->Status() != 0) render(kMs);
    return true;
  };
  if (!playToEnd(first)) return {};
  if (second) {
    render(std::size_t(gapMs) * kMs);
    if (!playToEnd(*second)) return {};
  }
  std::vector<float> mono(out.size() / 2);
  for (std::size_t f = 0; f < mono.size(); ++f)
    mono[f] = (float(out[2 * f]) + float(out[2 * f + 1])) / 65536.0f;
  return mono;
}

class Recogniser {
 public:
  Recogniser() {
    config_ = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", (kModelDir + "/en-us/en-us").c_str(), "-dict",
                          (kModelDir + "/en-us/cmudict-en-us.dict").c_str(), "-samprate", "16000", "-logfn",
                          "/dev/null", nullptr);
    if (config_) decoder_ = ps_init(config_);
    if (!decoder_) return;
    for (const auto& [word, phones] : kOwnWords)
      if (ps_add_word(decoder_, word.c_str(), phones.c_str(), TRUE) < 0) Release();
  }
  ~Recogniser() { Release(); }
  Recogniser(const Recogniser&) = delete;
  Recogniser& operator=(const Recogniser&) = delete;

  bool Ready() const { return decoder_ != nullptr; }

  // The words of `text` that the recogniser does not know.
  std::string Unknown(const std::string& text) {
    std::string unknown;
    for (const auto& w : Split(text)) {
      char* phones = ps_lookup_word(decoder_, w.c_str());
      if (!phones) unknown += " " + w;
      std::free(phones);
    }
    return unknown;
  }

  // Holds the recogniser to these word sequences until the next call.
  bool Choose(const std::vector<std::string>& choices) {
    std::string grammar = "#JSGF V1.0;\ngrammar choices;\npublic <choice> = ";
    for (std::size_t i = 0; i < choices.size(); ++i) grammar += (i ? " | ( " : "( ") + choices[i] + " )";
    grammar += ";\n";
    const std::string name = "g" + std::to_string(grammars_++);
    return ps_set_jsgf_string(decoder_, name.c_str(), grammar.c_str()) == 0 &&
           ps_set_search(decoder_, name.c_str()) == 0;
  }

  // The words heard in mono sound at the clips' rate.
  std::string Hear(const std::vector<float>& sound) {
    const std::size_t pad = std::size_t(kSilenceAroundSeconds * kClipRate);
    std::vector<float> padded(pad, 0.0f);
    padded.insert(padded.end(), sound.begin(), sound.end());
    padded.resize(padded.size() + pad, 0.0f);
    std::vector<float> resampled(padded.size() * kRecogniserRate / kClipRate + 1);
    SRC_DATA convert{};
    convert.data_in = padded.data();
    convert.input_frames = long(padded.size());
    convert.data_out = resampled.data();
    convert.output_frames = long(resampled.size());
    convert.src_ratio = double(kRecogniserRate) / kClipRate;
    if (src_simple(&convert, SRC_SINC_MEDIUM_QUALITY, 1) != 0) return "(resampling failed)";
    std::vector<std::int16_t> pcm(std::size_t(convert.output_frames_gen));
    for (std::size_t i = 0; i < pcm.size(); ++i)
      pcm[i] = std::int16_t(std::clamp(resampled[i] * 32768.0f, -32768.0f, 32767.0f));
    if (ps_start_utt(decoder_) < 0) return "(no utterance)";
    // In blocks, as the recogniser takes live sound.
    constexpr std::size_t kBlock = 2048;
    for (std::size_t at = 0; at < pcm.size(); at += kBlock)
      ps_process_raw(decoder_, pcm.data() + at, std::min(kBlock, pcm.size() - at), FALSE, FALSE);
    ps_end_utt(decoder_);
    const char* hypothesis = ps_get_hyp(decoder_, nullptr);
    return hypothesis ? hypothesis : "";
  }

 private:
  void Release() {
    if (decoder_) ps_free(decoder_);
    if (config_) cmd_ln_free_r(config_);
    decoder_ = nullptr;
    config_ = nullptr;
  }

  cmd_ln_t* config_ = nullptr;
  ps_decoder_t* decoder_ = nullptr;
  int grammars_ = 0;
};

// Heard against said, summed into one word error rate.
struct Tally {
  std::size_t words = 0, errors = 0;
  std::vector<std::string> wrong;

  void Add(const std::string& what, const std::string& said, const std::string& heard) {
    words += Split(said).size();
    const std::size_t e = WordErrors(said, heard);
    errors += e;
    if (e) wrong.push_back(what + ": said \"" + said + "\", heard \"" + heard + "\"");
  }
  void Print(const char* name) const {
    std::printf("%s: %.1f %%\n", name, words ? 100.0 * double(errors) / double(words) : 0.0);
  }
};

std::string Listed(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& l : lines) text += "\n  " + l;
  return text;
}

std::vector<std::string> NumberClips() {
  std::vector<std::string> clips;
  for (int n = 0; n <= 20; ++n) clips.push_back("score/" + std::to_string(n));
  for (int n = 30; n <= 90; n += 10) clips.push_back("score/" + std::to_string(n));
  clips.push_back("score/hundred");
  clips.push_back("score/thousand");
  return clips;
}

class Intelligibility : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(recogniser_.Ready()) << "pocketsphinx or its model (" << kModelDir << ") is missing";
    ASSERT_FALSE(words_.empty()) << "no clip table";
  }
  const std::string& Words(const std::string& clip) {
    static const std::string none;
    return words_.count(clip) ? words_.at(clip) : none;
  }

  // Loading the acoustic model takes a while; one recogniser serves every test.
  static Recogniser& Shared() {
    static Recogniser recogniser;
    return recogniser;
  }

  Recogniser& recogniser_ = Shared();
  std::map<std::string, std::string> words_ = ClipWords();
};

TEST_F(Intelligibility, EveryNumberWordIsHeardAmongTheNumberWords) {
  std::vector<std::string> choices;
  for (const auto& clip : NumberClips()) choices.push_back(Words(clip));
  ASSERT_TRUE(recogniser_.Choose(choices));
  Tally tally;
  for (const auto& clip : NumberClips()) {
    auto image = LoadClip(clip);
    ASSERT_TRUE(image) << clip;
    tally.Add(clip, Words(clip), recogniser_.Hear(Mixed(*image)));
  }
  tally.Print("number words alone, word error rate");
  EXPECT_TRUE(tally.wrong.empty()) << Listed(tally.wrong);
}

// "ninety points" must never be heard as "nineteen points", at any gap the
// tick leaves between the words.
TEST_F(Intelligibility, TeensAndTensStayApartBeforePoints) {
  const auto points = LoadClip("score/say_points");
  ASSERT_TRUE(points);
  Tally tally;
  for (int teen = 13; teen <= 19; ++teen) {
    const std::string teenClip = "score/" + std::to_string(teen),
                      tensClip = "score/" + std::to_string((teen - 10) * 10);
    ASSERT_TRUE(recogniser_.Choose({Words(teenClip) + " " + Words("score/say_points"),
                                    Words(tensClip) + " " + Words("score/say_points")}));
    for (const auto& clip : {teenClip, tensClip}) {
      auto image = LoadClip(clip);
      ASSERT_TRUE(image) << clip;
      for (int gapMs = 0; gapMs <= 50; gapMs += 10) {
        const std::string said = Words(clip) + " " + Words("score/say_points");
        tally.Add(clip + " then points " + std::to_string(gapMs) + " ms later", said,
                  recogniser_.Hear(Mixed(*image, &*points, gapMs)));
      }
    }
  }
  tally.Print("teens and tens before points, word error rate");
  EXPECT_EQ(tally.words, 7u * 2u * 6u * 2u);
  EXPECT_TRUE(tally.wrong.empty()) << Listed(tally.wrong);
}

TEST_F(Intelligibility, CompassWordsAreHeardAmongThemselves) {
  const std::vector<std::string> clips = {"level1/north", "level1/east", "level1/south", "level1/west"};
  std::vector<std::string> choices;
  for (const auto& clip : clips) choices.push_back(Words(clip));
  ASSERT_TRUE(recogniser_.Choose(choices));
  Tally tally;
  for (const auto& clip : clips) {
    auto image = LoadClip(clip);
    ASSERT_TRUE(image) << clip;
    tally.Add(clip, Words(clip), recogniser_.Hear(Mixed(*image)));
  }
  tally.Print("compass words, word error rate");
  EXPECT_TRUE(tally.wrong.empty()) << Listed(tally.wrong);
}

// Every spoken clip besides the number words, picked out of everything the
// game says.
TEST_F(Intelligibility, EveryPhraseIsPickedOutOfTheGamesTexts) {
  const auto numbers = NumberClips();
  std::vector<std::string> clips, choices;
  for (const auto& [clip, words] : words_) {
    if (std::find(numbers.begin(), numbers.end(), clip) != numbers.end()) continue;
    clips.push_back(clip);
    choices.push_back(words);
    ASSERT_EQ(recogniser_.Unknown(words), "") << clip << ": words the recogniser does not know";
  }
  ASSERT_TRUE(recogniser_.Choose(choices));
  Tally tally;
  std::size_t phrasesWrong = 0;
  for (const auto& clip : clips) {
    auto image = LoadClip(clip);
    ASSERT_TRUE(image) << clip;
    const std::string heard = recogniser_.Hear(Mixed(*image));
    if (heard != Words(clip)) ++phrasesWrong;
    tally.Add(clip, Words(clip), heard);
  }
  tally.Print("phrases, word error rate");
  std::printf("phrases picked wrongly: %zu of %zu\n", phrasesWrong, clips.size());
  EXPECT_GE(clips.size(), 30u);
  EXPECT_TRUE(tally.wrong.empty()) << Listed(tally.wrong);
}

}  // namespace
