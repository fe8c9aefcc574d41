// The PNG output of kelvar-art in the browser build, where kelvar-art is
// built by emscripten and run under node at build time: the chunks are put
// together here, the image data is compressed by node's zlib.
#include <emscripten.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/png_writer.h"

// kelvar_art_deflate: count bytes at bytes as a zlib stream into out (room
// bytes); its length, or -1 when it does not fit.
// clang-format off
EM_JS(int, kelvar_art_deflate, (const std::uint8_t* bytes, int count, std::uint8_t* out, int room), {
  const packed = require('zlib').deflateSync(HEAPU8.subarray(bytes, bytes + count), {level: 9});
  if (packed.length > room) return -1;
  HEAPU8.set(packed, out);
  return packed.length;
});
// clang-format on

namespace {

std::uint32_t Crc(const std::uint8_t* bytes, std::size_t count) {
  static std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xedb88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xffffffffu;
  for (std::size_t i = 0; i < count; ++i) c = table[(c ^ bytes[i]) & 0xff] ^ (c >> 8);
  return c ^ 0xffffffffu;
}

void PutWord(std::vector<std::uint8_t>& out, std::uint32_t word) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(word >> shift));
}

// PutChunk: length, type, data and the CRC of type and data.
void PutChunk(std::vector<std::uint8_t>& out, const char* type, const std::uint8_t* data,
              std::size_t count) {
  PutWord(out, static_cast<std::uint32_t>(count));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data, data + count);
  PutWord(out, Crc(&out[start], out.size() - start));
}

}  // namespace

bool PngAvailable() { return true; }

bool WritePng(const std::string& name, int width, int height, bool alpha,
              const std::uint8_t* pixels) {
  const std::size_t channels = alpha ? 4 : 3;
  const std::size_t rowBytes = static_cast<std::size_t>(width) * channels;
  // Each row filtered by its difference from the row above (filter type 2).
  std::vector<std::uint8_t> rows;
  rows.reserve((rowBytes + 1) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = pixels + static_cast<std::size_t>(y) * rowBytes;
    rows.push_back(2);
    for (std::size_t i = 0; i < rowBytes; ++i)
      rows.push_back(static_cast<std::uint8_t>(row[i] - (y > 0 ? row[i - rowBytes] : 0)));
  }
  std::vector<std::uint8_t> packed(rows.size() + rows.size() / 8 + 64);
  const int packedCount = kelvar_art_deflate(rows.data(), static_cast<int>(rows.size()),
                                             packed.data(), static_cast<int>(packed.size()));
  if (packedCount < 0) {
    std::fprintf(stderr, "%s: cannot compress the PNG\n", name.c_str());
    return false;
  }

  std::vector<std::uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  std::vector<std::uint8_t> header;
  PutWord(header, static_cast<std::uint32_t>(width));
  PutWord(header, static_cast<std::uint32_t>(height));
  header.insert(header.end(), {8, static_cast<std::uint8_t>(alpha ? 6 : 2), 0, 0, 0});
  PutChunk(file, "IHDR", header.data(), header.size());
  PutChunk(file, "IDAT", packed.data(), static_cast<std::size_t>(packedCount));
  PutChunk(file, "IEND", nullptr, 0);

  std::FILE* out = std::fopen(name.c_str(), "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "%s: %s\n", name.c_str(), std::strerror(errno));
    return false;
  }
  const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  if (std::fclose(out) != 0 || !written) {
    std::fprintf(stderr, "%s: %s\n", name.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}
