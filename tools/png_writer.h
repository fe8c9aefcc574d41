// The PNG output of kelvar-art: built over libpng when the build finds it,
// otherwise a version that says it cannot write one.
#pragma once

#include <cstdint>
#include <string>

// PngAvailable: whether this build can write PNG files at all.
bool PngAvailable();
// WriteRgbaPng: width x height pixels of four bytes (red, green, blue, alpha)
// row by row, top first; false after a message on standard error.
bool WriteRgbaPng(const std::string& name, int width, int height, const std::uint8_t* pixels);
