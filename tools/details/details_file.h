#pragma once
// The player's details as config.dat holds them, and the terminal dialogue of vesquin-details
// that asks for them and writes the file.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>

namespace vesquin::details {

inline constexpr const char* kFileName = "config.dat";
// The game keeps at most this many bytes of a detail.
inline constexpr std::size_t kFieldLimit = 99;
inline constexpr std::size_t kFieldCount = 4;
// In the order of the file's lines.
inline constexpr std::array<const char*, kFieldCount> kFieldNames = {"First name", "Last name", "Address",
                                                                     "Country"};
// An answer of this alone empties a detail that has a value.
inline constexpr std::string_view kEmptyAnswer = "-";

using Fields = std::array<std::string, kFieldCount>;

// Exit statuses of the tool.
inline constexpr int kWritten = 0;
inline constexpr int kNothingWritten = 1;
inline constexpr int kFailed = 2;

// A path as the player reads it: UTF-8 on every system.
std::string ShownPath(const std::filesystem::path& path);
// Empty when the text can stand as one detail; otherwise a sentence that says what is wrong.
std::string FieldProblem(std::string_view text);
// The first detail that cannot stand, as "<its name>: <what is wrong>"; empty when all can.
std::string FieldsProblem(const Fields& fields);
// The file's bytes: the four details in order, each ended by a line feed.
std::string FormatDetailsFile(const Fields& fields);
// The details as the game reads them from the file's bytes; false when they hold no text.
bool ParseDetailsFile(std::span<const std::uint8_t> bytes, Fields& fields);

enum class ReadResult { Read, Missing, Failed };
// The two that touch the file have one source per system: details_file_posix.cpp and
// details_file_windows.cpp.
// Reads folder/config.dat as the game would. Missing when there is none (or it holds no
// text); Failed, with a sentence in `error`, when it is not a regular file or cannot be read.
ReadResult ReadDetailsFile(const std::filesystem::path& folder, Fields& fields, std::string& error);
// Creates or replaces folder/config.dat with the details; false, with a sentence in `error`
// that gives the system's reason, when it cannot be written (the old file then stays as it was).
bool WriteDetailsFile(const std::filesystem::path& folder, const Fields& fields, std::string& error);
// Says what the details are for, reads out the current ones, asks for the four details one
// line at a time (Enter keeps the current answer), shows them, asks to confirm and writes the
// file. Returns kWritten, kNothingWritten (quit, or the input ended) or kFailed (the file
// could not be read or written). With `echoAnswers` each answer is repeated after its prompt,
// for input that is not typed in a terminal and so is not seen.
int RunDetailsDialogue(std::istream& in, std::ostream& out, const std::filesystem::path& folder,
                       bool echoAnswers = false);

}  // namespace vesquin::details
