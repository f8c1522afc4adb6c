#include <algorithm>
#include <cctype>
#include <charconv>
#include <functional>
#include <sstream>

#include "sim/simulation.h"

namespace vesquin {
namespace {

struct Command {
  std::function<void(Simulation&)> run;
  bool closes = false;
};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::optional<long long> ParseInteger(const std::string& word) {
  long long value = 0;
  const char* end = word.data() + word.size();
  auto [ptr, ec] = std::from_chars(word.data(), end, value);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

std::optional<int> ParseKey(const std::string& word) {
  static const std::pair<const char*, int> kNames[] = {
      {"enter", 13}, {"ctrl", 17}, {"escape", 27}, {"space", 32}, {"left", 37}, {"up", 38},
      {"right", 39}, {"down", 40}, {"d", 68},      {"n", 78},     {"y", 89},
  };
  const std::string lower = Lower(word);
  for (const auto& [name, code] : kNames) {
    if (lower == name) return code;
  }
  const std::optional<long long> code = ParseInteger(word);
  if (!code || *code < 0 || *code > 255) return std::nullopt;
  return static_cast<int>(*code);
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream stream(line);
  std::vector<std::string> words;
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

// The rest of the line after the command word, spaces kept; "\n" stands for a line feed.
std::string ReplyBody(const std::string& line) {
  constexpr const char* kSpace = " \t\v\f\r";  // what separates words
  const std::size_t start = line.find_first_not_of(kSpace);
  const std::size_t rest = line.find_first_of(kSpace, start);
  std::string raw = rest == std::string::npos ? std::string() : line.substr(rest + 1);
  std::string body;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] == 'n') {
      body += '\n';
      ++i;
    } else {
      body += raw[i];
    }
  }
  return body;
}

// One script line of at least one word as a command; nothing, with the reason in `error`,
// for a bad line.
std::optional<Command> ParseLine(std::string line, std::string& error) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const std::vector<std::string> words = Words(line);
  const std::string verb = Lower(words[0]);
  const std::size_t args = words.size() - 1;
  if (verb == "wait") {
    const std::optional<long long> ms = args == 1 ? ParseInteger(words[1]) : std::nullopt;
    if (!ms || *ms < 0) return error = "wait takes one whole number of milliseconds", std::nullopt;
    return Command{[ms = *ms](Simulation& s) { s.Wait(static_cast<std::uint64_t>(ms)); }};
  }
  if (verb == "key" || verb == "keyup") {
    const std::optional<int> key = args == 1 ? ParseKey(words[1]) : std::nullopt;
    if (!key) return error = verb + " takes one key name or virtual-key code", std::nullopt;
    if (verb == "key") return Command{[key = *key](Simulation& s) { s.Key(key); }};
    return Command{[key = *key](Simulation& s) { s.KeyUp(key); }};
  }
  if (verb == "close") {
    if (args != 0) return error = "close takes nothing", std::nullopt;
    return Command{[](Simulation& s) { s.Close(); }, true};
  }
  if (verb == "show") {
    if (args != 0) return error = "show takes nothing", std::nullopt;
    return Command{[](Simulation& s) { s.Show(); }};
  }
  if (verb == "rand") {
    if (args == 0) return error = "rand takes one or more values 0..32767", std::nullopt;
    std::vector<int> values;
    for (std::size_t i = 1; i < words.size(); ++i) {
      const std::optional<long long> v = ParseInteger(words[i]);
      if (!v || *v < 0 || *v > 32767) return error = "rand values lie in 0..32767", std::nullopt;
      values.push_back(static_cast<int>(*v));
    }
    return Command{[values](Simulation& s) { s.ForceRandom(values); }};
  }
  if (verb == "reply") {
    if (args == 0) return error = "reply takes a body, - or fail", std::nullopt;
    if (args == 1 && words[1] == "-") return Command{[](Simulation& s) { s.QueueReply(std::string()); }};
    if (args == 1 && words[1] == "fail") return Command{[](Simulation& s) { s.QueueReply(std::nullopt); }};
    return Command{[body = ReplyBody(line)](Simulation& s) { s.QueueReply(body); }};
  }
  error = "unknown command '" + words[0] + "'";
  return std::nullopt;
}

// Every command of a script; nothing, with the bad line named on `errors`, when a line is bad.
std::optional<std::vector<Command>> ParseScript(const std::string& scriptText, std::ostream& errors) {
  std::vector<Command> commands;
  std::istringstream lines(scriptText);
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    // A line of white space alone (vertical tabs and form feeds too) holds no words: blank.
    const std::vector<std::string> words = Words(line);
    if (words.empty() || words[0].front() == '#') continue;
    std::string error;
    std::optional<Command> command = ParseLine(line, error);
    if (!command) {
      errors << "vesquin-sim: script line " << number << ": " << error << '\n';
      return std::nullopt;
    }
    commands.push_back(std::move(*command));
  }
  return commands;
}

void RunCommands(Simulation& simulation, const std::vector<Command>& commands) {
  for (const Command& command : commands) {
    if (simulation.Ended()) break;
    command.run(simulation);
  }
}

}  // namespace

bool RunScriptOn(Simulation& simulation, const std::string& scriptText, std::ostream& errors) {
  const std::optional<std::vector<Command>> commands = ParseScript(scriptText, errors);
  if (!commands) return false;
  RunCommands(simulation, *commands);
  return true;
}

int RunScript(const std::string& scriptText, SimOptions options, std::ostream& transcript,
              std::ostream& errors) {
  const std::optional<std::vector<Command>> commands = ParseScript(scriptText, errors);
  if (!commands) return 2;
  Simulation simulation(std::move(options), transcript);
  if (!simulation.WavOpen()) {
    errors << "vesquin-sim: the WAVE file cannot be written\n";
    return 2;
  }
  simulation.Start();
  RunCommands(simulation, *commands);
  transcript.flush();
  if (!simulation.Finish()) {
    errors << "vesquin-sim: the WAVE file could not be written\n";
    return 1;
  }
  return 0;
}

}  // namespace vesquin
