#include "details_file.h"

#include <fstream>
#include <istream>
#include <optional>
#include <ostream>
#include <system_error>

namespace vesquin::details {
namespace {

constexpr const char* kFileName = "config.dat";

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

// Asks for one detail until it is given in a form the game reads back unchanged.
std::optional<std::string> AskField(std::istream& in, std::ostream& out, bool echo, const char* name) {
  for (;;) {
    out << name << ": " << std::flush;
    std::optional<std::string> line = ReadLine(in, out, echo);
    if (!line) return std::nullopt;
    const std::string problem = FieldProblem(*line);
    if (problem.empty()) return line;
    out << problem << '\n';
  }
}

enum class Answer { Write, Again, Quit, Ended };

Answer AskToConfirm(std::istream& in, std::ostream& out, bool echo) {
  for (;;) {
    out << "Write them? Type y to write, n to type them again, or q to quit without writing: " << std::flush;
    std::optional<std::string> line = ReadLine(in, out, echo);
    if (!line) return Answer::Ended;
    const std::string answer = Lower(Trimmed(*line));
    if (answer == "y" || answer == "yes") return Answer::Write;
    if (answer == "n" || answer == "no") return Answer::Again;
    if (answer == "q" || answer == "quit") return Answer::Quit;
    out << "Please type y, n or q.\n";
  }
}

}  // namespace

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
  if (text.size() > kFieldLimit) {
    return "This is " + std::to_string(text.size()) + " bytes long, and at most " + std::to_string(kFieldLimit) +
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

bool WriteDetailsFile(const std::filesystem::path& folder, const Fields& fields, std::string& error) {
  try {
    for (std::size_t i = 0; i < kFieldCount; ++i) {
      if (const std::string problem = FieldProblem(fields[i]); !problem.empty()) {
        error = std::string(kFieldNames[i]) + ": " + problem;
        return false;
      }
    }
    std::error_code code;
    if (!std::filesystem::is_directory(folder, code)) {
      error = "The folder " + folder.string() + " does not exist.";
      return false;
    }
    // Written beside the file and then renamed over it, so that a failed write leaves the
    // old details whole.
    const std::filesystem::path target = folder / kFileName;
    const std::filesystem::path part = folder / (std::string(kFileName) + ".new");
    const std::string text = FormatDetailsFile(fields);
    {
      std::ofstream file(part, std::ios::binary | std::ios::trunc);
      file.write(text.data(), static_cast<std::streamsize>(text.size()));
      file.close();
      if (!file) {
        std::filesystem::remove(part, code);
        error = "Could not write " + part.string() + ".";
        return false;
      }
    }
    std::filesystem::rename(part, target, code);
    if (code) {
      std::filesystem::remove(part, code);
      error = "Could not replace " + target.string() + ".";
      return false;
    }
    return true;
  } catch (...) {
    error = "Could not write " + (folder / kFileName).string() + ".";
    return false;
  }
}

int RunDetailsDialogue(std::istream& in, std::ostream& out, const std::filesystem::path& folder, bool echoAnswers) {
  const std::filesystem::path target = folder / kFileName;
  out << "Vesquin player details.\n"
      << "The game sends them with your score to the on-line score table.\n"
      << "They will be written to " << target.string() << ".\n";
  std::error_code code;
  if (std::filesystem::exists(target, code)) out << "That file exists; it is replaced only when you confirm.\n";
  out << "Type each answer on one line and press Enter. An answer may be empty. "
      << "At most " << kFieldLimit << " bytes each, and no grave accent (`).\n";
  for (;;) {
    Fields fields;
    for (std::size_t i = 0; i < kFieldCount; ++i) {
      std::optional<std::string> field = AskField(in, out, echoAnswers, kFieldNames[i]);
      if (!field) {
        out << "\nThe input ended before the details were complete. Nothing was written.\n";
        return kNothingWritten;
      }
      fields[i] = std::move(*field);
    }
    out << "These details will be written to " << target.string() << ":\n";
    for (std::size_t i = 0; i < kFieldCount; ++i) {
      out << kFieldNames[i] << ": " << (fields[i].empty() ? "(empty)" : fields[i]) << '\n';
    }
    switch (AskToConfirm(in, out, echoAnswers)) {
      case Answer::Write: {
        std::string error;
        if (!WriteDetailsFile(folder, fields, error)) {
          out << error << " Nothing was written.\n";
          return kFailed;
        }
        out << "Written to " << target.string() << ".\n";
        return kWritten;
      }
      case Answer::Again: out << "Type the details again.\n"; break;
      case Answer::Quit: out << "Nothing was written.\n"; return kNothingWritten;
      case Answer::Ended: out << "\nThe input ended. Nothing was written.\n"; return kNothingWritten;
    }
  }
}

}  // namespace vesquin::details
