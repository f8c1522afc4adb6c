// vesquin: the game in its window. One thread; the game's event pump is the only loop.

#include "platform/sdl_main_loop.h"

int main(int, char**) { return vesquin::RunProgram(); }
