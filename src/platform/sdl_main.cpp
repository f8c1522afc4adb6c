// vesquin: the game in its window. One thread; the window's own loop is the only loop.

#include "platform/sdl_window.h"

int main(int, char**) { return vesquin::RunProgram(); }
