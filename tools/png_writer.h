// The PNG output of kelvar-art and kelvar-snapshot: built over libpng when the build finds it,
// otherwise a version that says it cannot write one.
#pragma once

#include <cstdint>
#include <string>

// PngAvailable: whether this build can write PNG files at all.
bool PngAvailable();
// WritePng: width x height pixels of three bytes (red, green, blue) or, with
// alpha, four, row by row, top first; false after a message on standard error.
bool WritePng(const std::string& name, int width, int height, bool alpha,
              const std::uint8_t* pixels);
