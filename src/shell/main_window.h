#pragma once
// The main window's events, as the platform delivers them: start-up, paint, the 50 ms timer,
// keys and shutdown. Drawing the picture is the platform's; these are the game's parts.

#include <cstdint>

namespace vesquin {

struct Game;

bool InitFolders(Game& game);
bool InitDevices(Game& game);
bool CreateSoundDevice(Game& game);
void ReleaseSoundDevice(Game& game);

// Window initialisation: both steps, with the two start-up messages on failure.
void InitialiseWindow(Game& game);
// The game's part of a paint: the first paint after initialisation starts the intro.
void PaintWindow(Game& game);
// A timer event: the controller is polled, then the tick is routed while ticks are enabled.
void TimerEvent(Game& game, std::uint32_t timerId);
// A key press: routed; a quit from the menu closes the window after the exit clip.
void KeyDownEvent(Game& game, int key);
// Key releases are consumed and do nothing.
void KeyUpEvent(Game& game, int key);
// Releases what the window holds, in order.
void ShutdownWindow(Game& game);

// 0 = close the window, 1 = go on.
int RouteKeyDown(Game& game, int key);
void RouteTick(Game& game);

}  // namespace vesquin
