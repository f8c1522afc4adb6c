// config.dat, and what vesquin-details is given to write it: the game's reader is checked
// against a model of the format (last byte dropped, a zero byte ends the text, line feeds
// and grave accents end fields), and whatever the tool accepts and writes the game must read
// back unchanged.
//
// Input: the bytes of config.dat, which are also the tool's typed answers.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "details_file.h"
#include "scores/player_details.h"
#include "support/fuzz_machine.h"

using namespace vesquin;
using vesquin::fuzzing::Require;

namespace {

constexpr std::size_t kTextLimit = 999;
constexpr std::size_t kFieldLimit = 99;

struct ModelDetails {
  bool read = false;
  std::vector<std::string> fields;
};

ModelDetails ModelRead(const std::string& file) {
  ModelDetails model;
  if (file.empty()) return model;
  std::string text = file.substr(0, file.size() - 1);
  text = text.substr(0, text.find('\0'));
  if (text.empty()) return model;
  model.read = true;
  std::size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    if (start >= text.size()) {
      model.fields.emplace_back();
      continue;
    }
    std::size_t end = text.find_first_of("\n`", start);
    if (end == std::string::npos) end = text.size();
    model.fields.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return model;
}

std::vector<std::string> AsFields(const PlayerDetails& d) {
  return {d.firstName, d.lastName, d.address, d.country};
}

bool Clean(const std::string& field) {
  return field.size() <= kFieldLimit && field.find_first_of(std::string("\n`\0", 3)) == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::FuzzMachine& machine = fuzzing::FuzzMachine::Get();
  const std::string file = fuzzing::AsText(data, size);
  fuzzing::WriteText(machine.Folder() + "config.dat", file);

  // The game's reader against the model. Past the limits of the format the reader may cut or
  // refuse; a field it gives never holds a separator and never exceeds the limit.
  PlayerDetails details;
  const bool read = ReadPlayerDetails(machine.MachineServices().files, machine.Folder(), details);
  const ModelDetails model = ModelRead(file.substr(0, kPlayerDetailsReadLimit));
  if (read) {
    for (const std::string& field : AsFields(details)) Require(Clean(field));
  }
  bool withinLimits = model.fields.empty() || file.size() <= kTextLimit + 1;
  for (const std::string& field : model.fields) withinLimits = withinLimits && field.size() <= kFieldLimit;
  if (withinLimits) {
    Require(read == model.read);
    if (read) Require(AsFields(details) == model.fields);
  }

  // The tool, given the bytes as typed answers: what it writes, the game reads back as the
  // answers it accepted, each one a detail by the tool's own rules.
  const std::filesystem::path folder = machine.Folder() + "tool";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  std::istringstream typed(file);
  std::ostringstream shown;
  const int status = details::RunDetailsDialogue(typed, shown, folder);
  Require(status == details::kWritten || status == details::kNothingWritten || status == details::kFailed);
  const bool written = std::filesystem::exists(folder / "config.dat");
  Require(written == (status == details::kWritten));
  if (written) {
    PlayerDetails back;
    Require(ReadPlayerDetails(machine.MachineServices().files, folder.string() + "/", back));
    details::Fields fields;
    const std::vector<std::string> got = AsFields(back);
    for (std::size_t i = 0; i < details::kFieldCount; ++i) {
      Require(details::FieldProblem(got[i]).empty());
      fields[i] = got[i];
    }
    const std::string expected = details::FormatDetailsFile(fields);
    Require(fuzzing::ReadBytes(folder / "config.dat") ==
            std::vector<std::uint8_t>(expected.begin(), expected.end()));
  }

  // The file's own lines as details: whatever passes the tool's rules goes through the
  // tool's format and the game's reader unchanged.
  details::Fields lines;
  std::istringstream split(file);
  for (std::string& line : lines) std::getline(split, line);
  bool accepted = true;
  for (const std::string& line : lines) accepted = accepted && details::FieldProblem(line).empty();
  if (accepted) {
    const std::string formatted = details::FormatDetailsFile(lines);
    PlayerDetails parsed;
    Require(ParsePlayerDetails(
        std::span(reinterpret_cast<const std::uint8_t*>(formatted.data()), formatted.size()), parsed));
    Require(AsFields(parsed) == std::vector<std::string>(lines.begin(), lines.end()));
  }
  return 0;
}
