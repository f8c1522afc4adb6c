#include "details_file.h"

#include <istream>
#include <optional>
#include <ostream>

#include "scores/player_details.h"

namespace vesquin::details {
namespace {

// One line of input without its line end; nothing when the input has ended.
std::optional<std::string> ReadLine(std::istream& in, std::ostream& out, bool echo) {
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  // Input piped from a file with carriage return and line feed line ends.
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (echo) out << line << '\n';
  return line;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool AllEmpty(const Fields& fields) {
  for (const std::string& field : fields) {
    if (!field.empty()) return false;
  }
  return true;
}

// Asks for one detail until it is given in a form the game reads back unchanged. Enter
// keeps `current`.
std::optional<std::string> AskField(std::istream& in, std::ostream& out, bool echo, const char* name,
                                    const std::string& current) {
  for (;;) {
    out << name;
    if (!current.empty()) out << " (Enter keeps " << current << ")";
    out << ": " << std::flush;
    std::optional<std::string> line = ReadLine(in, out, echo);
    if (!line) return std::nullopt;
    if (*line == kEmptyAnswer) return std::string();
    // A kept answer is checked too: a file made by hand may hold what the game misreads.
    const std::string answer = line->empty() ? current : *line;
    const std::string problem = FieldProblem(answer);
    if (problem.empty()) return answer;
    out << problem << '\n';
  }
}

enum class Answer { Write, Again, Quit, Ended };

Answer AskToConfirm(std::istream& in, std::ostream& out, bool echo) {
  for (;;) {
    out << "Write them? Type y to write, n to change them, or q to quit without writing: " << std::flush;
    std::optional<std::string> line = ReadLine(in, out, echo);
    if (!line) return Answer::Ended;
    const std::string answer = Lower(Trimmed(*line));
    if (answer == "y" || answer == "yes") return Answer::Write;
    if (answer == "n" || answer == "no") return Answer::Again;
    if (answer == "q" || answer == "quit") return Answer::Quit;
    out << "Please type y, n or q.\n";
  }
}

void SayFields(std::ostream& out, const Fields& fields) {
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    out << kFieldNames[i] << ": " << (fields[i].empty() ? "(empty)" : fields[i]) << '\n';
  }
}

}  // namespace

std::string ShownPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string FieldsProblem(const Fields& fields) {
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    if (const std::string problem = FieldProblem(fields[i]); !problem.empty()) {
      return std::string(kFieldNames[i]) + ": " + problem;
    }
  }
  return {};
}

bool ParseDetailsFile(std::span<const std::uint8_t> bytes, Fields& fields) {
  PlayerDetails read;
  if (!ParsePlayerDetails(bytes, read)) return false;
  fields = {read.firstName, read.lastName, read.address, read.country};
  return true;
}

std::string FieldProblem(std::string_view text) {
  // The game ends a detail at a line feed or a grave accent and its whole text at a zero
  // byte, so none of them can stand inside one.
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '`') {
      return "The grave accent (`) cannot be used: the game reads it as the end of a detail. "
             "Please type it again without it.";
    }
    if (c == '\n') return "A line feed cannot be part of a detail. Please type it again on one line.";
    if (c == '\0') {
      return "A zero byte cannot be part of a detail: the game stops reading there. Please type it again.";
    }
    if (c == '\r' || c < 0x20 || c == 0x7F) {
      return "This holds a control character, perhaps from an arrow or function key. "
             "Please type it again with letters, digits, spaces and punctuation only.";
    }
  }
  // A screen reader does not voice them, so the player would not know they are there.
  if (!text.empty() && (text.front() == ' ' || text.back() == ' ')) {
    return "This starts or ends with a space, which a screen reader does not read out. "
           "Please type it again without spaces at its start or end.";
  }
  if (text.size() > kFieldLimit) {
    return "This is " + std::to_string(text.size()) + " bytes long, and at most " +
           std::to_string(kFieldLimit) +
           " fit. A letter outside A to Z can take two or more bytes. Please type a shorter one.";
  }
  return {};
}

std::string FormatDetailsFile(const Fields& fields) {
  // The game drops the file's last byte: the country's line feed.
  std::string text;
  for (const std::string& field : fields) {
    text += field;
    text += '\n';
  }
  return text;
}

int RunDetailsDialogue(std::istream& in, std::ostream& out, const std::filesystem::path& folder,
                       bool echoAnswers) {
  const std::filesystem::path target = folder / kFileName;
  out << "Vesquin player details.\n"
      << "The game sends them with your score to the on-line score table. Your first name, last name "
      << "and country appear on the public score table; your address never does.\n"
      << "They will be written to " << ShownPath(target) << ".\n";
  Fields fields;
  std::string error;
  switch (ReadDetailsFile(folder, fields, error)) {
    case ReadResult::Read:
      out << "Your details now:\n";
      SayFields(out, fields);
      out << "Press Enter at a question to keep its answer, or type a single hyphen (-) to empty it.\n";
      break;
    case ReadResult::Missing:
      break;
    case ReadResult::Failed:
      out << error << " Nothing was written.\n";
      return kFailed;
  }
  out << "Type each answer on one line and press Enter. An answer may be empty, but not all four. "
      << "At most " << kFieldLimit << " bytes each, no grave accent (`), and no space at the start or end.\n";
  bool writeFailed = false;
  for (;;) {
    for (std::size_t i = 0; i < kFieldCount; ++i) {
      std::optional<std::string> field = AskField(in, out, echoAnswers, kFieldNames[i], fields[i]);
      if (!field) {
        out << "\nThe input ended before the details were complete. Nothing was written.\n";
        return writeFailed ? kFailed : kNothingWritten;
      }
      fields[i] = std::move(*field);
    }
    if (AllEmpty(fields)) {
      out << "All four details are empty, and the score table needs at least one. Please type them again.\n";
      continue;
    }
    out << "These details will be written to " << ShownPath(target) << ":\n";
    SayFields(out, fields);
    for (bool confirming = true; confirming;) {
      switch (AskToConfirm(in, out, echoAnswers)) {
        case Answer::Write:
          if (WriteDetailsFile(folder, fields, error)) {
            out << "Written to " << ShownPath(target) << ".\n";
            return kWritten;
          }
          writeFailed = true;
          out << error << " Nothing was written; your answers are kept, so you can try again.\n";
          break;
        case Answer::Again:
          out << "Type the details again. Enter keeps each answer.\n";
          confirming = false;
          break;
        case Answer::Quit:
          out << "Nothing was written.\n";
          return writeFailed ? kFailed : kNothingWritten;
        case Answer::Ended:
          out << "\nThe input ended. Nothing was written.\n";
          return writeFailed ? kFailed : kNothingWritten;
      }
    }
  }
}

}  // namespace vesquin::details
