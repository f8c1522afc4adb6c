// vesquin-clip, the program itself (its main, called in-process): any bytes as a clip file for
// info and to-wav, and as a WAVE file for to-clip. info and to-wav agree on what is a clip,
// and to-wav then to-clip gives back the same clip; whatever to-clip writes is a clip.
//
// Input: the file given to the tool.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sound/clip_file.h"
#include "support/fuzz_machine.h"

int VesquinClipMain(int argc, char** argv);

using namespace vesquin;
using vesquin::fuzzing::Require;

namespace {

int RunTool(std::vector<std::string> args) {
  args.insert(args.begin(), "vesquin-clip");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return VesquinClipMain(static_cast<int>(args.size()), argv.data());
}

// Format and sample bytes of a clip file, the way the game reads them.
bool SameClip(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  const std::optional<ClipImage> x = ParseClipImage(a);
  const std::optional<ClipImage> y = ParseClipImage(b);
  if (!x || !y) return false;
  const ClipFormat& f = x->format;
  const ClipFormat& g = y->format;
  return f.formatTag == g.formatTag && f.channels == g.channels && f.samplesPerSec == g.samplesPerSec &&
         f.avgBytesPerSec == g.avgBytesPerSec && f.blockAlign == g.blockAlign &&
         f.bitsPerSample == g.bitsPerSample &&
         std::equal(x->data.begin(), x->data.end(), y->data.begin(), y->data.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::FuzzMachine& machine = fuzzing::FuzzMachine::Get();
  const std::string folder = machine.Folder() + "clip-tool/";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::vector<std::uint8_t> input(data, data + size);
  fuzzing::WriteBytes(folder + "in", input);

  const int info = RunTool({"info", folder + "in"});
  Require(info == 0 || info == 1);
  const int toWav = RunTool({"to-wav", folder + "in", folder + "in.wav"});
  Require(toWav == info);
  if (toWav == 0) {
    Require(RunTool({"to-clip", folder + "in.wav", folder + "back.vgz"}) == 0);
    Require(SameClip(fuzzing::ReadBytes(folder + "back.vgz"), input));
  }

  const int toClip = RunTool({"to-clip", folder + "in", folder + "made.vgz"});
  Require(toClip == 0 || toClip == 1);
  if (toClip == 0) {
    Require(RunTool({"info", folder + "made.vgz"}) == 0);
    Require(ClipImageProblem(fuzzing::ReadBytes(folder + "made.vgz")) == std::string());
  }
  return 0;
}
