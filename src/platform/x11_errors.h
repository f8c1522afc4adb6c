#pragma once

namespace vesquin {

// Makes X errors a logged line instead of the end of the program. Call before SDL_Init: SDL's
// own handler passes every error on to the one it found.
void KeepRunningOnXErrors();

}  // namespace vesquin
