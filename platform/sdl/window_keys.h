// The desktop host's translation of window input (window_keys.cpp).
#pragma once

#include <SDL.h>

#include "platform/core/services.h"

// QueueWindowKey: a key press or text in the window, translated to key codes
// and queued; true when the event was a key for the program.
bool QueueWindowKey(const SDL_Event& event);
// ButtonBit: an SDL button as a Mouse* bit, 0 for other buttons.
int ButtonBit(Uint8 button);
