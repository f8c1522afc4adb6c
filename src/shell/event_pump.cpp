#include "shell/event_pump.h"

#include "shell/game.h"
#include "shell/main_window.h"

namespace vesquin {

void EventPump::Start(Game& game) { InitialiseWindow(game); }

void EventPump::Run(Game& game) {
  if (ended_) return;
  // The window is visible from its creation: its first paint follows initialisation at once,
  // before any tick.
  if (!painted_ && !closing_) {
    painted_ = true;
    Paint(game);
  }
  while (!closing_) {
    // What came in while the game was busy goes first, in order; then one tick, taken at
    // now, stands for every tick that fell due; then the wait for the next deadline or event.
    std::optional<WindowEvent> event = events_.PollEvent();
    if (!event) {
      const std::uint64_t now = clock_.NowMs();
      if (timer_.Due(now)) {
        timer_.Take(now);
        TimerEvent(game, tickTimerId);
        events_.Ticked(now);
        continue;
      }
      event = events_.WaitEvent(NextTick());
      if (!event) continue;
    }
    if (event->kind == WindowEvent::Kind::InputEnded) return;
    Handle(game, *event);
  }
  ShutdownWindow(game);
  ended_ = true;
}

void EventPump::Handle(Game& game, const WindowEvent& event) {
  switch (event.kind) {
    case WindowEvent::Kind::KeyDown:
      KeyDownEvent(game, event.key);
      break;
    case WindowEvent::Kind::KeyUp:
      KeyUpEvent(game, event.key);
      break;
    case WindowEvent::Kind::Paint:
      Paint(game);
      break;
    case WindowEvent::Kind::Close:
      Close();
      break;
    case WindowEvent::Kind::Handled:
    case WindowEvent::Kind::InputEnded:
      break;
  }
}

void EventPump::Paint(Game& game) {
  window_.Paint();
  PaintWindow(game);
}

std::optional<std::uint64_t> EventPump::NextTick() const {
  if (!timer_.Running()) return std::nullopt;
  return timer_.NextDeadline();
}

bool EventPump::StartTimer(std::uint32_t id, std::uint32_t periodMs) {
  const std::uint64_t now = clock_.NowMs();
  if (id != tickTimerId || !timer_.Start(now, periodMs)) return false;
  events_.TimerStarted(now);
  return true;
}

void EventPump::KillTimer(std::uint32_t) {
  timer_.Stop();
  events_.TimerStopped();
}

void EventPump::ShowError(const std::string& text) {
  observer_.MessageShown(text);
  window_.ShowError(text);
}

void EventPump::Close() {
  if (closing_) return;
  closing_ = true;
  observer_.Closing();
}

}  // namespace vesquin
