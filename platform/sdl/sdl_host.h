// The desktop host's own functions, for its tests. Nothing outside platform/
// and the platform suite includes this file.
//
// One thread, the core's display thread, makes every SDL video call: it
// creates the window, pumps its events and presents the screen memory.
#pragma once

#include <SDL.h>

#include "platform/core/services.h"

// DisplayWindow: the open window, nullptr in text mode (display thread only).
SDL_Window* DisplayWindow();

// WindowToScreen: a point in window coordinates (as in SDL's mouse events)
// to a screen pixel; false when it lies outside the picture, where the
// result is the nearest pixel of the picture. Any thread.
bool WindowToScreen(int windowX, int windowY, int& screenX, int& screenY);
// ScreenToWindow: the window point at the centre of a screen pixel. Any thread.
void ScreenToWindow(int screenX, int screenY, int& windowX, int& windowY);
