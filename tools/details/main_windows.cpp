// vesquin-details.exe: asks for the player's details and writes config.dat, which the game
// reads when a score is sent to the on-line score table. The same dialogue and rules as on
// Linux (main.cpp), in a console window: a screen reader reads it like any console program.
//
//   vesquin-details          writes config.dat beside this program, i.e. beside the game
//   vesquin-details FOLDER   writes FOLDER\config.dat
//
// Exit status: 0 written, 1 nothing written (quit, Ctrl+C, or the input ended), 2 a bad
// command line or a file that cannot be read or written.

#include <windows.h>

#include <filesystem>
#include <iostream>
#include <streambuf>
#include <string>
#include <system_error>

#include "details_file.h"
#include "windows/text.h"

namespace {

namespace fs = std::filesystem;
using vesquin::details::kFailed;

// Lines typed in the console, read as the characters they are and handed on as UTF-8: the
// console's code page would turn "Åsa" into other bytes.
class ConsoleInput final : public std::streambuf {
 public:
  explicit ConsoleInput(HANDLE console) : console_(console) {}

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    wchar_t typed[512];
    DWORD count = 0;
    if (ReadConsoleW(console_, typed, 512, &count, nullptr) == FALSE || count == 0) return traits_type::eof();
    // Ctrl+Z at the start of a line ends the input, as it does for console programs.
    if (typed[0] == 26) return traits_type::eof();
    line_ = vesquin::windows::Utf8(std::wstring_view(typed, count));
    setg(line_.data(), line_.data(), line_.data() + line_.size());
    return traits_type::to_int_type(*gptr());
  }

 private:
  HANDLE console_;
  std::string line_;
};

// Ctrl+C while a question waits: the player hears that nothing was written. The file is
// never half written: it is moved into place in one step.
BOOL WINAPI SayNothingWritten(DWORD) {
  constexpr char kText[] = "\nStopped. Nothing was written.\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), kText, sizeof kText - 1, &written, nullptr);
  ExitProcess(vesquin::details::kNothingWritten);
}

void Usage(std::ostream& out) {
  out << "Usage: vesquin-details [FOLDER]\n"
      << "Asks for your first name, last name, address and country, and writes them to config.dat\n"
      << "in FOLDER, or beside this program (the game's folder) when no folder is given.\n"
      << "When config.dat exists, Enter keeps each of its details and a single hyphen (-) empties one.\n";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    SetConsoleOutputCP(CP_UTF8);
    if (argc > 2) {
      Usage(std::cerr);
      return kFailed;
    }
    fs::path folder;
    if (argc == 2) {
      const std::wstring_view argument = argv[1];
      if (argument == L"-h" || argument == L"--help" || argument == L"/?") {
        Usage(std::cout);
        return 0;
      }
      folder = fs::path(std::wstring(argument));
    } else {
      // Installed beside the game, so its own folder is the game's folder.
      std::wstring self(32'768, L'\0');
      const DWORD n = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
      if (n == 0 || n >= self.size()) {
        std::cerr << "vesquin-details: cannot find the folder of this program; give the game's folder.\n";
        return kFailed;
      }
      self.resize(n);
      folder = fs::path(self).parent_path();
    }
    std::error_code code;
    if (!fs::is_directory(folder, code)) {
      std::cerr << "vesquin-details: " << vesquin::details::ShownPath(folder) << " is not a folder.\n";
      return kFailed;
    }
    SetConsoleCtrlHandler(SayNothingWritten, TRUE);
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool typed = GetConsoleMode(input, &mode) != FALSE;
    ConsoleInput console(input);
    std::istream consoleStream(&console);
    // Piped answers are not seen as they are typed: repeat them after their prompts.
    return vesquin::details::RunDetailsDialogue(typed ? consoleStream : std::cin, std::cout, folder, !typed);
  } catch (...) {
    std::cerr << "vesquin-details: nothing was written.\n";
    return kFailed;
  }
}
