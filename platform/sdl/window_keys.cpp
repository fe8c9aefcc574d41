// The window's keys and buttons in the program's terms: key presses and
// text as the key codes a console keyboard gives, buttons as the mouse
// library's bits.

#include "platform/sdl/window_keys.h"

bool QueueWindowKey(const SDL_Event& event) {
  std::uint8_t codes[2];
  int count = 0;
  if (event.type == SDL_KEYDOWN) {
    SDL_Keycode key = event.key.keysym.sym;
    auto extended = [&](std::uint8_t scan) {
      codes[0] = 0;
      codes[1] = scan;
      count = 2;
    };
    switch (key) {
      case SDLK_UP:
        extended(72);
        break;
      case SDLK_DOWN:
        extended(80);
        break;
      case SDLK_RIGHT:
        extended(77);
        break;
      case SDLK_LEFT:
        extended(75);
        break;
      case SDLK_PAGEDOWN:
        extended(81);
        break;
      case SDLK_ESCAPE:
        codes[count++] = 27;
        break;
      case SDLK_RETURN:
      case SDLK_RETURN2:
      case SDLK_KP_ENTER:
        codes[count++] = 13;
        break;
      case SDLK_BACKSPACE:
        codes[count++] = 8;
        break;
      case SDLK_TAB:
        codes[count++] = 9;
        break;
      default:
        break;
    }
    // The keypad's arrows and Page Down while Num Lock is off.
    if (count == 0 && (event.key.keysym.mod & KMOD_NUM) == 0) {
      switch (key) {
        case SDLK_KP_8:
          extended(72);
          break;
        case SDLK_KP_2:
          extended(80);
          break;
        case SDLK_KP_6:
          extended(77);
          break;
        case SDLK_KP_4:
          extended(75);
          break;
        case SDLK_KP_3:
          extended(81);
          break;
        default:
          break;
      }
    }
    if (count == 0) {
      // Control with a letter gives the control byte, as the terminal
      // does; printable characters come as text input.
      if ((event.key.keysym.mod & KMOD_CTRL) != 0 && key >= SDLK_a && key <= SDLK_z)
        codes[count++] = static_cast<std::uint8_t>(key - SDLK_a + 1);
    }
    QueueKeys(codes, count, true);
    return count > 0;
  }
  if (event.type == SDL_TEXTINPUT) {
    // Printable ASCII only: the bytes of other characters are not keys of the game.
    std::uint8_t text[sizeof event.text.text];
    int length = 0;
    for (const char* c = event.text.text; *c != '\0'; ++c) {
      auto byte = static_cast<unsigned char>(*c);
      if (byte >= 32 && byte <= 126) text[length++] = byte;
    }
    QueueKeys(text, length, true);
    return length > 0;
  }
  return false;
}

int ButtonBit(Uint8 button) {
  switch (button) {
    case SDL_BUTTON_LEFT:
      return MouseLeft;
    case SDL_BUTTON_MIDDLE:
      return MouseMiddle;
    case SDL_BUTTON_RIGHT:
      return MouseRight;
    default:
      return 0;
  }
}
