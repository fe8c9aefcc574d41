// The console host: the game full screen on a Linux virtual console, the
// display and input devices had through the seat of the session logged in
// on it (libseat), the picture shown with KMS dumb buffers (libdrm), the
// devices read with libinput and the keys in the user's layout
// (xkbcommon). The pieces the host's files share, and the pure parts the
// suites test.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/services.h"

// ---- Pure parts ----------------------------------------------------------------

// DisplayToScreen: a point of the display (pixels, fractions allowed) to
// the picture's pixel under it; a point outside the picture goes to its
// nearest edge.
void DisplayToScreen(const PictureRect& picture, double x, double y, int& screenX, int& screenY);
// KeyCodes: the game's key codes for one key press: keysym (xkbcommon's),
// the character it types (0 for none) and whether Control is held; 0 to 2
// codes written (arrows and Page Down as 0 and a scan code).
int KeyCodes(std::uint32_t keysym, std::uint32_t character, bool control, std::uint8_t codes[2]);
// SwitchTarget: the virtual console a key asks to switch to (Ctrl+Alt+Fn,
// as the layout gives it), 0 for none.
int SwitchTarget(std::uint32_t keysym, bool control, bool alt);
// ToXrgb: a 5-6-5 colour in the display's 8-8-8 format, bits replicated.
std::uint32_t ToXrgb(std::uint16_t colour);
// ConvertRow: one picture row drawn into a buffer of 32-bit pixels at the
// picture's place and scale (scale rows of it, each pixel scale wide).
void ConvertRow(const std::uint16_t* row, int y, const PictureRect& picture, std::uint8_t* buffer,
                int pitch);

// ---- The seat (seat.cpp) ---------------------------------------------------------

// OpenSeat: the seat of the session on this console, active; false with a reason.
bool OpenSeat(std::string& reason);
// SeatActive: the session is the one shown (false while switched away).
bool SeatActive();
// SeatFd: the descriptor to wait on for the seat's messages; DispatchSeat reads them.
int SeatFd();
void DispatchSeat();
// OpenSeatDevice: a device file through the seat; its descriptor and
// the seat's id for it, -1 when refused.
int OpenSeatDevice(const char* path, int& id);
void CloseSeatDevice(int fd, int id);
// SwitchConsole: asks the seat to show another virtual console.
void SwitchConsole(int number);
// CloseSeat: the seat given back (the console returns to text and its keyboard).
void CloseSeat();
// RecordConsoleModes, GiveConsoleModesBack: the virtual console's modes as
// found, and put back from the terminal's leave action (ioctl only) in case
// the seat's manager has not yet done so.
void RecordConsoleModes();
void GiveConsoleModesBack();

// ---- The display (drm.cpp) -------------------------------------------------------

// OpenDisplay: a card with a connected screen, its current mode; false with a reason.
bool OpenDisplay(std::string& reason);
// DisplayPicture: where the picture lies on the screen.
PictureRect DisplayPicture();
int DisplayWidth();
int DisplayHeight();
// ShowDisplay: buffers made and shown (after OpenDisplay and on every return
// to the console); HideDisplay: the console's own picture back, buffers freed.
bool ShowDisplay(std::string& reason);
void HideDisplay();
// DisplayShown: the buffers are up (between ShowDisplay and HideDisplay).
bool DisplayShown();
// PresentFrame: the frame's changed rows drawn and shown at the next vertical blank.
void PresentFrame(const Frame& frame);
// DisplayFd: the card's descriptor (page flip events); DispatchDisplay reads them.
int DisplayFd();
void DispatchDisplay();
// DisplayAway, DisplayBack: the session left (presenting stops) and came back
// (the mode set again; the core repaints everything).
void DisplayAway();
void DisplayBack();
// CloseDisplay: the card closed.
void CloseDisplay();

// ---- Input (input.cpp) -----------------------------------------------------------

// OpenInput: libinput on the seat's devices and the keyboard layout; false with a reason.
bool OpenInput(std::string& reason);
// InputFd: the descriptor to wait on; DispatchInput hands what came to the core.
int InputFd();
void DispatchInput();
// RepeatFd: a timer that fires while a key is held; DispatchRepeat queues its codes again.
int RepeatFd();
void DispatchRepeat();
// HasPointingDevice: a mouse, touchpad, tablet or touchscreen is there.
bool HasPointingDevice();
// PointerAt: the arrow put at a screen pixel (the program warped it).
void PointerAt(int x, int y);
// InputAway, InputBack: the session left and came back.
void InputAway();
void InputBack();
void CloseInput();
