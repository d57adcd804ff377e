// Reading the pictures back: PNG through libpng, SVG through expat.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zoniq::test {

struct DecodedPng {
  bool ok = false;
  std::string error;
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;  // 3 bytes per pixel, rows top to bottom
};
DecodedPng DecodePng(const std::string& bytes);

// Pixels that are not white.
double InkFraction(const DecodedPng& image);
// Pixels within `tolerance` (per channel) of the colour 0xRRGGBB.
int PixelsNear(const DecodedPng& image, unsigned colour, int tolerance);
// Pixels of a clear colour (channels differing by more than 80): curves, not black text or grey.
int ColouredPixels(const DecodedPng& image);

struct SvgPath {
  std::string style, d;
};
struct ParsedSvg {
  bool ok = false;
  std::string error;
  std::string root;  // name of the root element
  std::vector<SvgPath> paths;
};
// Parses the document as XML (any well-formedness error fails) and collects its path elements.
ParsedSvg ParseSvg(const std::string& bytes);

}  // namespace zoniq::test
