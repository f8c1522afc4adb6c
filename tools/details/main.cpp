// vesquin-details: asks for the player's details and writes config.dat, which the game reads
// when a score is sent to the on-line score table.
//
//   vesquin-details          writes config.dat beside this program, i.e. beside the game
//   vesquin-details FOLDER   writes FOLDER/config.dat
//
// Plain prompts on standard output and answers on standard input, one line each, so that a
// screen reader reads it like any terminal program and answers can be piped in. When
// config.dat exists its details are read out first, and Enter keeps each of them.
//
// Exit status: 0 written, 1 nothing written (quit, Ctrl-C, or the input ended), 2 a bad
// command line or a file that cannot be read or written.

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string_view>
#include <system_error>

#include "details_file.h"

namespace {

namespace fs = std::filesystem;
using vesquin::details::kFailed;

// Ctrl-C while a question waits: the player hears that nothing was written. The file is
// never half written: its replacement holds these signals off (details_file.cpp).
extern "C" void SayNothingWritten(int) {
  constexpr char kText[] = "\nStopped. Nothing was written.\n";
  [[maybe_unused]] const ssize_t n = ::write(STDOUT_FILENO, kText, sizeof kText - 1);
  ::_exit(vesquin::details::kNothingWritten);
}

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = SayNothingWritten;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::sigaction(signal, &action, nullptr);
}

void Usage(std::ostream& out) {
  out << "Usage: vesquin-details [FOLDER]\n"
      << "Asks for your first name, last name, address and country, and writes them to config.dat\n"
      << "in FOLDER, or beside this program (the game's folder) when no folder is given.\n"
      << "When config.dat exists, Enter keeps each of its details and a single hyphen (-) empties one.\n";
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc > 2) {
      Usage(std::cerr);
      return kFailed;
    }
    fs::path folder;
    if (argc == 2) {
      const std::string_view argument = argv[1];
      if (argument == "-h" || argument == "--help") {
        Usage(std::cout);
        return 0;
      }
      folder = argument;
    } else {
      // Installed beside the game, so its own folder is the game's folder.
      std::error_code code;
      const fs::path self = fs::read_symlink("/proc/self/exe", code);
      if (code) {
        std::cerr << "vesquin-details: cannot find the folder of this program; give the game's folder.\n";
        return kFailed;
      }
      folder = self.parent_path();
    }
    std::error_code code;
    if (!fs::is_directory(folder, code)) {
      std::cerr << "vesquin-details: " << folder.string() << " is not a folder.\n";
      return kFailed;
    }
    CatchStopSignals();
    // Piped answers are not seen as they are typed: repeat them after their prompts.
    const bool piped = ::isatty(STDIN_FILENO) == 0;
    return vesquin::details::RunDetailsDialogue(std::cin, std::cout, folder, piped);
  } catch (...) {
    std::cerr << "vesquin-details: nothing was written.\n";
    return kFailed;
  }
}
