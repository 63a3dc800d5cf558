#pragma once

#include <string>
#include <vector>

namespace vantisol {

// Decodes the PNG file to 8-bit RGB, 3 bytes per pixel, rows as stored in the file. False when the
// file is missing or not a PNG.
bool DecodePngRgb(const std::string& file_name, std::vector<unsigned char>* pixels, int* width,
                  int* height);

// The full file name of the library or program that holds this code; empty when unknown.
std::string OwnModuleFileName();

}  // namespace vantisol
