// The display: the first card with a connected screen, kept at the mode it
// has, the picture drawn into dumb buffers (no GPU driver, no OpenGL) at
// the largest whole scale that fits, centred on black. Two buffers take
// turns with page flips at the vertical blank; a driver that cannot flip
// gets one buffer and is told which rows changed (DirtyFB).

#include <dirent.h>
#include <drm.h>
#include <drm_mode.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/console/console.h"

namespace {

// MaxCards: /dev/dri/card0 .. card7 are looked at.
constexpr int MaxCards = 8;
// FlipWait: the longest wait for a flip before drawing again, milliseconds.
constexpr int FlipWait = 100;

struct Buffer {
  std::uint32_t Handle = 0, FramebufferId = 0, Pitch = 0;
  std::uint64_t Size = 0;
  std::uint8_t* Pixels = nullptr;
  std::array<bool, ScreenHeight> Stale{};  // rows it does not yet show
};

struct DisplayState {
  int Fd = -1, DeviceId = -1;
  std::uint32_t ConnectorId = 0, CrtcId = 0;
  drmModeModeInfo Mode{};
  drmModeCrtc* Saved = nullptr;  // what the console showed, put back when the game goes
  PictureRect Picture{0, 0, ScreenWidth, ScreenHeight};
  std::array<Buffer, 2> Buffers;
  int Count = 0;  // buffers made: 2 while flipping, 1 with DirtyFB
  int Back = 0;   // the buffer drawn next
  bool Shown = false, Away = false, FlipPending = false;
};

DisplayState Drm;

// CrtcFor: a CRTC that can drive the connector: its encoder's, else the
// first one any of its encoders allows.
std::uint32_t CrtcFor(int fd, const drmModeRes* resources, const drmModeConnector* connector) {
  if (drmModeEncoder* encoder = drmModeGetEncoder(fd, connector->encoder_id)) {
    const std::uint32_t crtc = encoder->crtc_id;
    drmModeFreeEncoder(encoder);
    if (crtc != 0) return crtc;
  }
  for (int e = 0; e < connector->count_encoders; ++e) {
    drmModeEncoder* encoder = drmModeGetEncoder(fd, connector->encoders[e]);
    if (encoder == nullptr) continue;
    const std::uint32_t possible = encoder->possible_crtcs;
    drmModeFreeEncoder(encoder);
    for (int c = 0; c < resources->count_crtcs && c < 32; ++c)
      if (possible & (1u << c)) return resources->crtcs[c];
  }
  return 0;
}

// TryCard: the card's first connected connector with a usable mode.
bool TryCard(int fd) {
  drmModeRes* resources = drmModeGetResources(fd);
  if (resources == nullptr) return false;
  bool found = false;
  for (int i = 0; i < resources->count_connectors && !found; ++i) {
    drmModeConnector* connector = drmModeGetConnector(fd, resources->connectors[i]);
    if (connector == nullptr) continue;
    if (connector->connection == DRM_MODE_CONNECTED && connector->count_modes > 0) {
      const std::uint32_t crtc = CrtcFor(fd, resources, connector);
      if (crtc != 0) {
        Drm.ConnectorId = connector->connector_id;
        Drm.CrtcId = crtc;
        Drm.Saved = drmModeGetCrtc(fd, crtc);
        // The mode the screen shows now, else its preferred one.
        if (Drm.Saved != nullptr && Drm.Saved->mode_valid) {
          Drm.Mode = Drm.Saved->mode;
        } else {
          Drm.Mode = connector->modes[0];
          for (int m = 0; m < connector->count_modes; ++m)
            if (connector->modes[m].type & DRM_MODE_TYPE_PREFERRED) Drm.Mode = connector->modes[m];
        }
        found = Drm.Mode.hdisplay > 0 && Drm.Mode.vdisplay > 0;
      }
    }
    drmModeFreeConnector(connector);
  }
  drmModeFreeResources(resources);
  return found;
}

void FreeBuffer(Buffer& buffer) {
  if (buffer.Pixels != nullptr) munmap(buffer.Pixels, buffer.Size);
  if (buffer.FramebufferId != 0) drmModeRmFB(Drm.Fd, buffer.FramebufferId);
  if (buffer.Handle != 0) {
    drm_mode_destroy_dumb destroy{};
    destroy.handle = buffer.Handle;
    drmIoctl(Drm.Fd, DRM_IOCTL_MODE_DESTROY_DUMB, &destroy);
  }
  buffer = Buffer{};
}

bool MakeBuffer(Buffer& buffer) {
  drm_mode_create_dumb create{};
  create.width = Drm.Mode.hdisplay;
  create.height = Drm.Mode.vdisplay;
  create.bpp = 32;
  if (drmIoctl(Drm.Fd, DRM_IOCTL_MODE_CREATE_DUMB, &create) != 0) return false;
  buffer.Handle = create.handle;
  buffer.Pitch = create.pitch;
  buffer.Size = create.size;
  drm_mode_map_dumb map{};
  map.handle = create.handle;
  if (drmModeAddFB(Drm.Fd, create.width, create.height, 24, 32, create.pitch, create.handle,
                   &buffer.FramebufferId) != 0 ||
      drmIoctl(Drm.Fd, DRM_IOCTL_MODE_MAP_DUMB, &map) != 0) {
    FreeBuffer(buffer);
    return false;
  }
  void* pixels = mmap(nullptr, buffer.Size, PROT_READ | PROT_WRITE, MAP_SHARED, Drm.Fd, map.offset);
  if (pixels == MAP_FAILED) {
    FreeBuffer(buffer);
    return false;
  }
  buffer.Pixels = static_cast<std::uint8_t*>(pixels);
  // Black around the picture; every row of the picture to be drawn.
  std::memset(buffer.Pixels, 0, buffer.Size);
  buffer.Stale.fill(true);
  return true;
}

bool SetMode(const Buffer& buffer) {
  return drmModeSetCrtc(Drm.Fd, Drm.CrtcId, buffer.FramebufferId, 0, 0, &Drm.ConnectorId, 1,
                        &Drm.Mode) == 0;
}

void FlipDone(int, unsigned, unsigned, unsigned, void*) { Drm.FlipPending = false; }

// WaitForFlip: the flip asked for is done (or given up on).
void WaitForFlip() {
  for (int waited = 0; Drm.FlipPending && waited < FlipWait; waited += 10) {
    pollfd ready{Drm.Fd, POLLIN, 0};
    if (poll(&ready, 1, 10) > 0) DispatchDisplay();
  }
  Drm.FlipPending = false;
}

}  // namespace

bool OpenDisplay(std::string& reason) {
  std::string tried;
  for (int card = 0; card < MaxCards; ++card) {
    char path[32];
    std::snprintf(path, sizeof path, "/dev/dri/card%d", card);
    if (access(path, F_OK) != 0) continue;
    int id = -1;
    const int fd = OpenSeatDevice(path, id);
    if (fd < 0) {
      tried += std::string(tried.empty() ? "" : ", ") + path + " refused";
      continue;
    }
    std::uint64_t dumb = 0;
    Drm.Fd = fd;
    if (drmGetCap(fd, DRM_CAP_DUMB_BUFFER, &dumb) == 0 && dumb != 0 && TryCard(fd)) {
      Drm.DeviceId = id;
      Drm.Picture = FitPicture(Drm.Mode.hdisplay, Drm.Mode.vdisplay);
      return true;
    }
    Drm.Fd = -1;
    CloseSeatDevice(fd, id);
    tried += std::string(tried.empty() ? "" : ", ") + path + " has no screen connected";
  }
  reason = "no display card with a connected screen" + (tried.empty() ? "" : " (" + tried + ")");
  return false;
}

PictureRect DisplayPicture() { return Drm.Picture; }
int DisplayWidth() { return Drm.Mode.hdisplay; }
int DisplayHeight() { return Drm.Mode.vdisplay; }

bool ShowDisplay(std::string& reason) {
  if (Drm.Shown) return true;
  Drm.Count = 0;
  for (Buffer& buffer : Drm.Buffers)
    if (MakeBuffer(buffer)) ++Drm.Count;
  if (Drm.Count == 0 || !SetMode(Drm.Buffers[0])) {
    reason = std::string("the screen's mode could not be set: ") + std::strerror(errno);
    for (Buffer& buffer : Drm.Buffers) FreeBuffer(buffer);
    return false;
  }
  // Buffer 0 is shown; the next frame goes to the other one.
  Drm.Back = Drm.Count == 2 ? 1 : 0;
  Drm.Shown = true;
  Drm.FlipPending = false;
  return true;
}

void HideDisplay() {
  if (!Drm.Shown) return;
  WaitForFlip();
  if (!Drm.Away && Drm.Saved != nullptr && Drm.Saved->buffer_id != 0)
    drmModeSetCrtc(Drm.Fd, Drm.CrtcId, Drm.Saved->buffer_id, Drm.Saved->x, Drm.Saved->y,
                   &Drm.ConnectorId, 1, &Drm.Saved->mode);
  for (Buffer& buffer : Drm.Buffers) FreeBuffer(buffer);
  Drm.Shown = false;
}

bool DisplayShown() { return Drm.Shown; }

void PresentFrame(const Frame& frame) {
  if (!Drm.Shown || Drm.Away) return;
  for (int y = frame.FirstChanged; y <= frame.LastChanged; ++y)
    if (frame.RowChanged[y])
      for (Buffer& buffer : Drm.Buffers) buffer.Stale[static_cast<std::size_t>(y)] = true;
  WaitForFlip();
  Buffer& back = Drm.Buffers[static_cast<std::size_t>(Drm.Back)];
  int first = ScreenHeight, last = -1;
  for (int y = 0; y < ScreenHeight; ++y) {
    if (!back.Stale[static_cast<std::size_t>(y)]) continue;
    ConvertRow(frame.Pixels + y * ScreenWidth, y, Drm.Picture, back.Pixels,
               static_cast<int>(back.Pitch));
    back.Stale[static_cast<std::size_t>(y)] = false;
    first = std::min(first, y);
    last = y;
  }
  if (last < 0) return;
  if (Drm.Count == 2) {
    if (drmModePageFlip(Drm.Fd, Drm.CrtcId, back.FramebufferId, DRM_MODE_PAGE_FLIP_EVENT,
                        nullptr) == 0) {
      Drm.FlipPending = true;
      Drm.Back = 1 - Drm.Back;
      return;
    }
    // No flips here: the buffer just drawn is shown once and kept alone.
    SetMode(back);
    FreeBuffer(Drm.Buffers[static_cast<std::size_t>(1 - Drm.Back)]);
    if (Drm.Back == 1) std::swap(Drm.Buffers[0], Drm.Buffers[1]);
    Drm.Count = 1;
    Drm.Back = 0;
    return;
  }
  const PictureRect& p = Drm.Picture;
  const int scale = std::max(1, p.H / ScreenHeight);
  drmModeClip clip{static_cast<std::uint16_t>(p.X), static_cast<std::uint16_t>(p.Y + first * scale),
                   static_cast<std::uint16_t>(p.X + p.W),
                   static_cast<std::uint16_t>(p.Y + (last + 1) * scale)};
  drmModeDirtyFB(Drm.Fd, back.FramebufferId, &clip, 1);
}

int DisplayFd() { return Drm.Fd; }

void DispatchDisplay() {
  if (Drm.Fd < 0) return;
  drmEventContext context{};
  context.version = 2;
  context.page_flip_handler = FlipDone;
  drmHandleEvent(Drm.Fd, &context);
}

void DisplayAway() {
  Drm.Away = true;
  // A flip asked for before the switch may never be reported.
  Drm.FlipPending = false;
}

void DisplayBack() {
  Drm.Away = false;
  if (!Drm.Shown) return;
  // Another program may have drawn into nothing of ours, but the mode is gone.
  for (Buffer& buffer : Drm.Buffers) buffer.Stale.fill(true);
  const int shown = Drm.Count == 2 ? 1 - Drm.Back : 0;
  SetMode(Drm.Buffers[static_cast<std::size_t>(shown)]);
  RequestRepaint();
}

void CloseDisplay() {
  HideDisplay();
  if (Drm.Saved != nullptr) drmModeFreeCrtc(Drm.Saved);
  Drm.Saved = nullptr;
  if (Drm.Fd >= 0) CloseSeatDevice(Drm.Fd, Drm.DeviceId);
  Drm.Fd = -1;
  Drm.DeviceId = -1;
}
