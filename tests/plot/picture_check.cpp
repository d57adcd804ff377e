#include "picture_check.hpp"

#include <expat.h>
#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace zoniq::test {

DecodedPng DecodePng(const std::string& bytes) {
  DecodedPng out;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
    out.error = image.message;
    return out;
  }
  image.format = PNG_FORMAT_RGB;
  out.rgb.resize(PNG_IMAGE_SIZE(image));
  // Transparent pixels are put on white, as a viewer shows them on a page.
  png_color white{255, 255, 255};
  if (!png_image_finish_read(&image, &white, out.rgb.data(), 0, nullptr)) {
    out.error = image.message;
    png_image_free(&image);
    return out;
  }
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  out.ok = true;
  png_image_free(&image);
  return out;
}

double InkFraction(const DecodedPng& image) {
  std::size_t ink = 0, n = image.rgb.size() / 3;
  for (std::size_t i = 0; i < n; ++i)
    if (image.rgb[3 * i] != 255 || image.rgb[3 * i + 1] != 255 || image.rgb[3 * i + 2] != 255) ++ink;
  return n ? static_cast<double>(ink) / static_cast<double>(n) : 0.0;
}

int PixelsNear(const DecodedPng& image, unsigned colour, int tolerance) {
  const int want[3] = {static_cast<int>((colour >> 16) & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                       static_cast<int>(colour & 0xFF)};
  int count = 0;
  for (std::size_t i = 0; i + 2 < image.rgb.size(); i += 3) {
    bool near = true;
    for (int c = 0; c < 3; ++c)
      near = near && std::abs(image.rgb[i + static_cast<std::size_t>(c)] - want[c]) <= tolerance;
    if (near) ++count;
  }
  return count;
}

int ColouredPixels(const DecodedPng& image) {
  int count = 0;
  for (std::size_t i = 0; i + 2 < image.rgb.size(); i += 3) {
    const int hi = std::max({image.rgb[i], image.rgb[i + 1], image.rgb[i + 2]});
    const int lo = std::min({image.rgb[i], image.rgb[i + 1], image.rgb[i + 2]});
    if (hi - lo > 80) ++count;
  }
  return count;
}

namespace {

void XMLCALL StartElement(void* data, const XML_Char* name, const XML_Char** attributes) {
  ParsedSvg& svg = *static_cast<ParsedSvg*>(data);
  if (svg.root.empty()) svg.root = name;
  if (std::strcmp(name, "path") != 0) return;
  SvgPath path;
  for (int i = 0; attributes[i]; i += 2) {
    if (std::strcmp(attributes[i], "style") == 0) path.style = attributes[i + 1];
    if (std::strcmp(attributes[i], "d") == 0) path.d = attributes[i + 1];
  }
  svg.paths.push_back(std::move(path));
}

void XMLCALL EndElement(void*, const XML_Char*) {}

}  // namespace

ParsedSvg ParseSvg(const std::string& bytes) {
  ParsedSvg svg;
  XML_Parser parser = XML_ParserCreate(nullptr);
  XML_SetUserData(parser, &svg);
  XML_SetElementHandler(parser, StartElement, EndElement);
  if (XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), 1) == XML_STATUS_ERROR) {
    svg.error = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
                std::to_string(XML_GetCurrentLineNumber(parser));
  } else {
    svg.ok = true;
  }
  XML_ParserFree(parser);
  return svg;
}

}  // namespace zoniq::test
