#pragma once
// The game on a virtual clock: the real core, the real clip loader, mixer and files, with no
// window and no sound card. It prints what the player hears, one line per event.

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "machine/platform_window.h"
#include "machine/services.h"
#include "platform/native_files.h"
#include "shell/event_pump.h"
#include "shell/game.h"

namespace vesquin {

class Mixer;

struct SimOptions {
  std::string dataFolder;   // stands in for the executable's folder
  std::uint32_t seed = 1;   // of the pseudo-random generator
  std::string wavPath;      // where to write the mixed output; empty: nowhere
  bool soundOutput = true;  // false: no sound device can be opened
  bool controllerAttached = false;
  int controllerReadsBeforeFailure = -1;  // -1: the controller never fails
};

class Simulation {
 public:
  Simulation(SimOptions options, std::ostream& transcript);
  ~Simulation();
  Simulation(const Simulation&) = delete;
  Simulation& operator=(const Simulation&) = delete;

  // Window initialisation, then the first paint, at virtual time 0.
  void Start();
  // Lets ms pass; every timer event due in that span is handled in time order.
  void Wait(std::uint64_t ms);
  void Key(int virtualKey);
  void KeyUp(int virtualKey);
  // The window's close command.
  void Close();
  void Show();
  void ForceRandom(const std::vector<int>& values);
  // A reply for the next HTTP request; nothing: the request cannot be made.
  void QueueReply(std::optional<std::string> body);

  bool Ended() const { return pump_.HasEnded(); }
  // The virtual time in whole milliseconds, rounded down.
  std::uint64_t Now() const;
  Game& RunningGame() { return *game_; }
  // False when a WAVE file was asked for and cannot be written.
  bool WavOpen() const;
  // Completes the WAVE file, if one was asked for; false when it could not be written.
  bool Finish();

  // What a test may look at.
  int ControllerPolls() const;
  bool ControllerReleased() const;
  bool TimerRunning() const;
  // Virtual times of the timer events handled so far, in whole milliseconds.
  const std::vector<std::uint64_t>& TimerEvents() const;
  // What was released, in order: "menu clips", "number clips", "timer", "controller",
  // "sound device".
  std::vector<std::string> ShutdownSteps() const;
  // The machine's services, for a test that starts a fresh Game on them (after Start).
  Services& MachineServices() { return *services_; }

 private:
  class Machine;
  // The script's event at the script's time, handled by the window's loop.
  void Deliver(WindowEvent event);

  SimOptions options_;
  std::unique_ptr<Machine> machine_;
  EventPump pump_;
  std::unique_ptr<Services> services_;
  std::unique_ptr<Game> game_;
};

// Runs a script (see the simulator's documentation); returns the process exit status.
// Bad lines are reported on `errors` with their line number, and the script is not run.
// A WAVE file that cannot be written gives 2 when it cannot be opened before the run, 1 when
// writing it fails after.
int RunScript(const std::string& scriptText, SimOptions options, std::ostream& transcript,
              std::ostream& errors);
// Runs the commands of a script on a simulation that has started; false, with the bad line
// named on `errors` and nothing run, when a line is bad.
bool RunScriptOn(Simulation& simulation, const std::string& scriptText, std::ostream& errors);

}  // namespace vesquin
