// Input: libinput reads the seat's devices (opened through the seat, so a
// user who is not in the input group reads them too, and devices plugged in
// during the game are followed through udev). Relative pointers move the
// arrow by their movement; tablets, touchscreens and absolute pointers put
// it where they point on the screen; keys go through xkbcommon in the
// layout the system is set to.

#include <libinput.h>
#include <libudev.h>
#include <linux/input-event-codes.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/console/console.h"

namespace {

// MaxOpen: device files open at once through the seat.
constexpr int MaxOpen = 64;
// RepeatDelay, RepeatPeriod: a held key repeats (milliseconds), as libinput
// leaves to its users: the kernel's own repeat never reaches the game. The
// delay is longer than the console's 250 so that a key released in a busy
// moment is not taken for a held one.
constexpr long RepeatDelay = 500;
constexpr long RepeatPeriod = 33;

struct OpenDevice {
  int Fd = -1, Id = -1;
};

struct InputState {
  udev* Udev = nullptr;
  libinput* Context = nullptr;
  xkb_context* Xkb = nullptr;
  xkb_keymap* Keymap = nullptr;
  xkb_state* Keys = nullptr;
  std::array<OpenDevice, MaxOpen> Open;
  int Pointing = 0;             // pointing devices there now
  double X = 0, Y = 0;          // the arrow, in screen pixels with fractions
  bool Touching = false;        // a touch holds the left button
  std::int32_t TouchSlot = -1;  // the touch that does
  int RepeatFd = -1;            // a timer while a key is held
  std::uint32_t RepeatKey = 0;  // the held key's code, 0 for none
  std::uint8_t RepeatCodes[2]{};
  int RepeatCount = 0;
};

InputState In;

int OpenRestricted(const char* path, int, void*) {
  for (OpenDevice& device : In.Open) {
    if (device.Fd >= 0) continue;
    const int fd = OpenSeatDevice(path, device.Id);
    if (fd < 0) return -1;
    device.Fd = fd;
    return fd;
  }
  return -1;
}

void CloseRestricted(int fd, void*) {
  for (OpenDevice& device : In.Open)
    if (device.Fd == fd) {
      CloseSeatDevice(device.Fd, device.Id);
      device = OpenDevice{};
      return;
    }
}

const libinput_interface Interface = {OpenRestricted, CloseRestricted};

// Layout: XKBMODEL, XKBLAYOUT, XKBVARIANT and XKBOPTIONS of the system's
// keyboard file, as the console and the desktop read them.
struct Layout {
  char Model[128] = "", Name[128] = "", Variant[128] = "", Options[128] = "";
};

void ReadLayout(Layout& layout) {
  std::FILE* file = std::fopen("/etc/default/keyboard", "re");
  if (file == nullptr) return;
  char line[256];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    char key[32], value[128];
    if (std::sscanf(line, " %31[A-Z]=\"%127[^\"]\"", key, value) != 2 &&
        std::sscanf(line, " %31[A-Z]=%127s", key, value) != 2)
      continue;
    const auto keep = [&](char* to, std::size_t size) { std::snprintf(to, size, "%s", value); };
    if (std::strcmp(key, "XKBMODEL") == 0) keep(layout.Model, sizeof layout.Model);
    if (std::strcmp(key, "XKBLAYOUT") == 0) keep(layout.Name, sizeof layout.Name);
    if (std::strcmp(key, "XKBVARIANT") == 0) keep(layout.Variant, sizeof layout.Variant);
    if (std::strcmp(key, "XKBOPTIONS") == 0) keep(layout.Options, sizeof layout.Options);
  }
  std::fclose(file);
}

bool OpenKeyboardLayout(std::string& reason) {
  In.Xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  if (In.Xkb == nullptr) {
    reason = "no keyboard layouts (xkbcommon)";
    return false;
  }
  Layout layout;
  ReadLayout(layout);
  const auto named = [](const char* value) { return value[0] != '\0' ? value : nullptr; };
  xkb_rule_names names{nullptr, named(layout.Model), named(layout.Name), named(layout.Variant),
                       named(layout.Options)};
  In.Keymap = xkb_keymap_new_from_names(In.Xkb, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  // A layout the system names but this machine lacks: the default one.
  if (In.Keymap == nullptr) In.Keymap = xkb_keymap_new_from_names(In.Xkb, nullptr, {});
  if (In.Keymap != nullptr) In.Keys = xkb_state_new(In.Keymap);
  if (In.Keys == nullptr) {
    reason = "the keyboard layout could not be read (xkbcommon)";
    return false;
  }
  return true;
}

bool IsPointing(libinput_device* device) {
  return libinput_device_has_capability(device, LIBINPUT_DEVICE_CAP_POINTER) ||
         libinput_device_has_capability(device, LIBINPUT_DEVICE_CAP_TOUCH) ||
         libinput_device_has_capability(device, LIBINPUT_DEVICE_CAP_TABLET_TOOL);
}

void DeviceAdded(libinput_device* device) {
  if (!IsPointing(device)) return;
  ++In.Pointing;
  // A touchpad's tap is a click, as on a desktop.
  if (libinput_device_config_tap_get_finger_count(device) > 0)
    libinput_device_config_tap_set_enabled(device, LIBINPUT_CONFIG_TAP_ENABLED);
}

// MoveTo: the arrow at a point of the display, in the picture.
void MoveTo(double displayX, double displayY) {
  int x, y;
  DisplayToScreen(DisplayPicture(), displayX, displayY, x, y);
  In.X = x;
  In.Y = y;
  QueuePointerMove(x, y);
}

void Button(std::uint32_t button, bool pressed) {
  const int bit = button == BTN_LEFT     ? MouseLeft
                  : button == BTN_RIGHT  ? MouseRight
                  : button == BTN_MIDDLE ? MouseMiddle
                                         : 0;
  if (bit != 0) QueuePointerButton(static_cast<int>(In.X), static_cast<int>(In.Y), bit, pressed);
}

// Repeat: the held key's codes again and again from now on; nullptr stops.
void Repeat(std::uint32_t key, const std::uint8_t* codes, int count) {
  itimerspec timer{};
  In.RepeatKey = codes != nullptr ? key : 0;
  if (codes != nullptr) {
    std::copy(codes, codes + count, In.RepeatCodes);
    In.RepeatCount = count;
    timer.it_value.tv_nsec = RepeatDelay * 1000000;
    timer.it_interval.tv_nsec = RepeatPeriod * 1000000;
  }
  if (In.RepeatFd >= 0) timerfd_settime(In.RepeatFd, 0, &timer, nullptr);
}

void Key(libinput_event_keyboard* event) {
  const std::uint32_t code = libinput_event_keyboard_get_key(event) + 8;
  const bool pressed = libinput_event_keyboard_get_key_state(event) == LIBINPUT_KEY_STATE_PRESSED;
  if (pressed) {
    const xkb_keysym_t keysym = xkb_state_key_get_one_sym(In.Keys, code);
    const bool control =
        xkb_state_mod_name_is_active(In.Keys, XKB_MOD_NAME_CTRL, XKB_STATE_MODS_EFFECTIVE) > 0;
    const bool alt =
        xkb_state_mod_name_is_active(In.Keys, XKB_MOD_NAME_ALT, XKB_STATE_MODS_EFFECTIVE) > 0;
    if (const int target = SwitchTarget(keysym, control, alt)) {
      SwitchConsole(target);
    } else {
      std::uint8_t codes[2];
      const int count = KeyCodes(keysym, xkb_state_key_get_utf32(In.Keys, code), control, codes);
      QueueKeys(codes, count, true);
      if (count > 0 && xkb_keymap_key_repeats(In.Keymap, code)) Repeat(code, codes, count);
    }
  } else if (code == In.RepeatKey) {
    Repeat(0, nullptr, 0);
  }
  xkb_state_update_key(In.Keys, code, pressed ? XKB_KEY_DOWN : XKB_KEY_UP);
}

void Pointer(libinput_event* event) {
  libinput_event_pointer* pointer = libinput_event_get_pointer_event(event);
  switch (libinput_event_get_type(event)) {
    case LIBINPUT_EVENT_POINTER_MOTION: {
      // A mouse moves the arrow a pixel a count, as the game's mouse always
      // did; a touchpad's movement comes with libinput's acceleration.
      libinput_device* device = libinput_event_get_device(event);
      const bool pad = libinput_device_config_tap_get_finger_count(device) > 0;
      const double dx = pad ? libinput_event_pointer_get_dx(pointer)
                            : libinput_event_pointer_get_dx_unaccelerated(pointer);
      const double dy = pad ? libinput_event_pointer_get_dy(pointer)
                            : libinput_event_pointer_get_dy_unaccelerated(pointer);
      In.X = std::clamp(In.X + dx, 0.0, ScreenWidth - 1.0);
      In.Y = std::clamp(In.Y + dy, 0.0, ScreenHeight - 1.0);
      QueuePointerMove(static_cast<int>(In.X), static_cast<int>(In.Y));
      break;
    }
    case LIBINPUT_EVENT_POINTER_MOTION_ABSOLUTE:
      MoveTo(libinput_event_pointer_get_absolute_x_transformed(
                 pointer, static_cast<unsigned>(DisplayWidth())),
             libinput_event_pointer_get_absolute_y_transformed(
                 pointer, static_cast<unsigned>(DisplayHeight())));
      break;
    case LIBINPUT_EVENT_POINTER_BUTTON:
      Button(libinput_event_pointer_get_button(pointer),
             libinput_event_pointer_get_button_state(pointer) == LIBINPUT_BUTTON_STATE_PRESSED);
      break;
    default:
      break;
  }
}

// Touch: the first finger down points and holds the left button until it lifts.
void Touch(libinput_event* event) {
  libinput_event_touch* touch = libinput_event_get_touch_event(event);
  const libinput_event_type type = libinput_event_get_type(event);
  if (type == LIBINPUT_EVENT_TOUCH_FRAME) return;
  const std::int32_t slot = libinput_event_touch_get_seat_slot(touch);
  if (type == LIBINPUT_EVENT_TOUCH_DOWN && In.Touching) return;
  if (type != LIBINPUT_EVENT_TOUCH_DOWN && (!In.Touching || slot != In.TouchSlot)) return;
  if (type == LIBINPUT_EVENT_TOUCH_DOWN || type == LIBINPUT_EVENT_TOUCH_MOTION)
    MoveTo(libinput_event_touch_get_x_transformed(touch, static_cast<unsigned>(DisplayWidth())),
           libinput_event_touch_get_y_transformed(touch, static_cast<unsigned>(DisplayHeight())));
  if (type == LIBINPUT_EVENT_TOUCH_DOWN) {
    In.Touching = true;
    In.TouchSlot = slot;
    Button(BTN_LEFT, true);
  } else if (type == LIBINPUT_EVENT_TOUCH_UP || type == LIBINPUT_EVENT_TOUCH_CANCEL) {
    In.Touching = false;
    Button(BTN_LEFT, false);
  }
}

// Tablet: a pen points where it hovers; its tip is the left button.
void Tablet(libinput_event* event) {
  libinput_event_tablet_tool* tool = libinput_event_get_tablet_tool_event(event);
  const auto width = static_cast<unsigned>(DisplayWidth());
  const auto height = static_cast<unsigned>(DisplayHeight());
  MoveTo(libinput_event_tablet_tool_get_x_transformed(tool, width),
         libinput_event_tablet_tool_get_y_transformed(tool, height));
  const libinput_event_type type = libinput_event_get_type(event);
  if (type == LIBINPUT_EVENT_TABLET_TOOL_TIP)
    Button(BTN_LEFT,
           libinput_event_tablet_tool_get_tip_state(tool) == LIBINPUT_TABLET_TOOL_TIP_DOWN);
  if (type == LIBINPUT_EVENT_TABLET_TOOL_BUTTON)
    Button(libinput_event_tablet_tool_get_button(tool),
           libinput_event_tablet_tool_get_button_state(tool) == LIBINPUT_BUTTON_STATE_PRESSED);
}

void Handle(libinput_event* event) {
  switch (libinput_event_get_type(event)) {
    case LIBINPUT_EVENT_DEVICE_ADDED:
      DeviceAdded(libinput_event_get_device(event));
      break;
    case LIBINPUT_EVENT_DEVICE_REMOVED:
      if (IsPointing(libinput_event_get_device(event))) --In.Pointing;
      break;
    case LIBINPUT_EVENT_KEYBOARD_KEY:
      Key(libinput_event_get_keyboard_event(event));
      break;
    case LIBINPUT_EVENT_POINTER_MOTION:
    case LIBINPUT_EVENT_POINTER_MOTION_ABSOLUTE:
    case LIBINPUT_EVENT_POINTER_BUTTON:
      Pointer(event);
      break;
    case LIBINPUT_EVENT_TOUCH_DOWN:
    case LIBINPUT_EVENT_TOUCH_UP:
    case LIBINPUT_EVENT_TOUCH_MOTION:
    case LIBINPUT_EVENT_TOUCH_CANCEL:
    case LIBINPUT_EVENT_TOUCH_FRAME:
      Touch(event);
      break;
    case LIBINPUT_EVENT_TABLET_TOOL_AXIS:
    case LIBINPUT_EVENT_TABLET_TOOL_PROXIMITY:
    case LIBINPUT_EVENT_TABLET_TOOL_TIP:
    case LIBINPUT_EVENT_TABLET_TOOL_BUTTON:
      Tablet(event);
      break;
    default:
      break;
  }
}

}  // namespace

bool OpenInput(std::string& reason) {
  if (!OpenKeyboardLayout(reason)) return false;
  In.Udev = udev_new();
  if (In.Udev != nullptr) In.Context = libinput_udev_create_context(&Interface, nullptr, In.Udev);
  if (In.Context == nullptr) {
    reason = "the input devices could not be read (libinput)";
    return false;
  }
  // libinput's own lines would be written over the console's picture.
  libinput_log_set_priority(In.Context, LIBINPUT_LOG_PRIORITY_ERROR);
  libinput_log_set_handler(In.Context,
                           [](libinput*, libinput_log_priority, const char*, va_list) {});
  if (libinput_udev_assign_seat(In.Context, "seat0") != 0) {
    reason = "the input devices of seat0 could not be listed (libinput)";
    return false;
  }
  In.RepeatFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  // The devices there at start, before the game asks whether it has a mouse.
  DispatchInput();
  return true;
}

int InputFd() { return In.Context != nullptr ? libinput_get_fd(In.Context) : -1; }

void DispatchInput() {
  if (In.Context == nullptr || libinput_dispatch(In.Context) != 0) return;
  while (libinput_event* event = libinput_get_event(In.Context)) {
    Handle(event);
    libinput_event_destroy(event);
  }
}

int RepeatFd() { return In.RepeatFd; }

void DispatchRepeat() {
  std::uint64_t times = 0;
  if (read(In.RepeatFd, &times, sizeof times) != sizeof times) return;
  // A release already waiting ends the repeat before it is counted.
  DispatchInput();
  if (In.RepeatKey == 0) return;
  // A display thread kept busy catches up by a few, not by every one missed.
  for (std::uint64_t i = 0; i < std::min<std::uint64_t>(times, 3); ++i)
    QueueKeys(In.RepeatCodes, In.RepeatCount, true);
}

bool HasPointingDevice() { return In.Pointing > 0; }

void PointerAt(int x, int y) {
  In.X = std::clamp(x, 0, ScreenWidth - 1);
  In.Y = std::clamp(y, 0, ScreenHeight - 1);
}

void InputAway() {
  if (In.Context != nullptr) libinput_suspend(In.Context);
  Repeat(0, nullptr, 0);
  // Keys held while leaving are not held on return.
  if (In.Keys != nullptr) {
    xkb_state_unref(In.Keys);
    In.Keys = xkb_state_new(In.Keymap);
  }
  if (In.Touching) Button(BTN_LEFT, false);
  In.Touching = false;
}

void InputBack() {
  if (In.Context != nullptr) libinput_resume(In.Context);
}

void CloseInput() {
  if (In.Context != nullptr) libinput_unref(In.Context);
  if (In.Udev != nullptr) udev_unref(In.Udev);
  if (In.Keys != nullptr) xkb_state_unref(In.Keys);
  if (In.Keymap != nullptr) xkb_keymap_unref(In.Keymap);
  if (In.Xkb != nullptr) xkb_context_unref(In.Xkb);
  if (In.RepeatFd >= 0) close(In.RepeatFd);
  In = InputState{};
}
