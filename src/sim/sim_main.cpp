// vesquin-sim: the game on a virtual clock, driven by a script, printing what is heard.

#include <unistd.h>

#include <charconv>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "sim/simulation.h"

namespace {

int Usage(const std::string& problem) {
  std::cerr << "vesquin-sim: " << problem
            << "\nusage: vesquin-sim --data DIR [--seed N] [--wav FILE] [SCRIPT]\n";
  return 2;
}

std::string OwnFolder() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string s(path, static_cast<std::size_t>(n));
  const std::size_t slash = s.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : s.substr(0, slash);
}

}  // namespace

int main(int argc, char** argv) {
  vesquin::SimOptions options;
  std::string scriptPath = "-";
  bool haveScript = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    if (arg == "--data") {
      if (!value(options.dataFolder)) return Usage("--data needs a folder");
    } else if (arg == "--wav") {
      if (!value(options.wavPath)) return Usage("--wav needs a file");
    } else if (arg == "--seed") {
      std::string text;
      if (!value(text)) return Usage("--seed needs a number");
      std::uint32_t seed = 0;
      const char* end = text.data() + text.size();
      const auto [ptr, ec] = std::from_chars(text.data(), end, seed);
      if (text.empty() || ec != std::errc() || ptr != end)
        return Usage("--seed needs a whole number 0..4294967295");
      options.seed = seed;
    } else if (!haveScript && (arg == "-" || arg.rfind("--", 0) != 0)) {
      scriptPath = arg;
      haveScript = true;
    } else {
      return Usage("unknown argument '" + arg + "'");
    }
  }
  if (options.dataFolder.empty()) options.dataFolder = OwnFolder();

  std::stringstream script;
  if (scriptPath == "-") {
    script << std::cin.rdbuf();
  } else {
    // A folder opens as a stream on this system and reads as nothing: refuse it by name.
    std::error_code ignored;
    if (std::filesystem::is_directory(scriptPath, ignored))
      return Usage("the script '" + scriptPath + "' is a folder");
    std::ifstream file(scriptPath);
    if (!file) return Usage("cannot read the script '" + scriptPath + "'");
    script << file.rdbuf();
    if (file.bad()) return Usage("cannot read the script '" + scriptPath + "'");
  }
  return vesquin::RunScript(script.str(), options, std::cout, std::cerr);
}
