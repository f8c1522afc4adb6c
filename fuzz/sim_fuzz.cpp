// vesquin-sim's scripts: any text goes through the script parser and, when every line is
// good, runs the whole game on the virtual clock from start-up, with a best.dat and a
// config.dat in its data folder and HTTP replies as the script queues them. The run ends
// with status 0, or 2 and a message that names the bad line; the transcript's times never
// go back.
//
// Input: the script.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "support/fuzz_machine.h"

using namespace vesquin;
using vesquin::fuzzing::Require;

namespace {

// Scripts that ask for more virtual time than this are not run: a longer game only repeats
// ticks.
constexpr long long kVirtualTimeLimitMs = 2 * 60 * 1000;

bool WaitsTooLong(const std::string& script) {
  long long total = 0;
  std::istringstream lines(script);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string verb, span;
    words >> verb >> span;
    for (char& c : verb) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (verb != "wait") continue;
    if (span.size() > 12) return true;
    try {
      total += std::max(0LL, std::stoll(span));
    } catch (...) {
      continue;
    }
    if (total > kVirtualTimeLimitMs) return true;
  }
  return false;
}

void RequireTimesInOrder(const std::string& transcript) {
  std::istringstream lines(transcript);
  unsigned long long last = 0;
  for (std::string line; std::getline(lines, line);) {
    std::size_t digits = 0;
    while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits]))) ++digits;
    Require(digits > 0 && digits < line.size() && line[digits] == ' ');
    const unsigned long long time = std::stoull(line.substr(0, digits));
    Require(time >= last);
    last = time;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string script = fuzzing::AsText(data, size);
  if (WaitsTooLong(script)) return -1;
  fuzzing::FuzzMachine& machine = fuzzing::FuzzMachine::Get();
  fuzzing::WriteText(machine.Folder() + "best.dat", "");
  fuzzing::WriteText(machine.Folder() + "config.dat", "Ada\nLovelace\n12 St James's Square\nEngland\n");

  SimOptions options;
  options.dataFolder = machine.Folder();
  std::ostringstream transcript;
  std::ostringstream errors;
  const int status = RunScript(script, options, transcript, errors);
  Require(status == 0 || status == 2);
  if (status == 2) {
    Require(errors.str().find("line ") != std::string::npos && transcript.str().empty());
  } else {
    Require(errors.str().empty());
  }
  RequireTimesInOrder(transcript.str());
  return 0;
}
