// What the picture tests share: one illuminated simulation of the shipped CIGS example, the panels
// and graphs by name, and the pictures read back (PNG through libpng, SVG through expat).
#pragma once

#include <expat.h>
#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "celldef/cell_state.hpp"
#include "celldef/definition_file.hpp"
#include "measure/simulation_driver.hpp"
#include "measure/simulation_state.hpp"
#include "output/output_fixture.hpp"
#include "plot/figure_model.hpp"
#include "test_util.hpp"
#include "ui/error_message.hpp"

namespace zoniq::test {

// The CIGS example run under AM1.5G with the I-V sweep `range`: false when the cell cannot be
// read or the simulation did not run to its end.
struct CigsRun {
  RecordingUserInterface ui;
  ErrorReporting errors;
  CellState cell;
  std::unique_ptr<SimulationState> sim = std::make_unique<SimulationState>();
  Environment env() { return Environment{&ui, &errors, HomeFolder()}; }
  bool Run(const std::string& range) {
    const Environment e = env();
    InputParameters set;
    MottSchottkySettings ms;
    InitialiseInputParameters(set, ms);
    if (lees_structuurfile(e, HomeFolder() + "/def/CIGS.def", set, ms, cell.definitionExtras) < 0) return false;
    cell.parameterset1 = set;
    cell.mottSchottky = ms;
    parameterset1_to_2(cell.zonnecel, cell.parameterset1);
    cell.problemName = "CIGS.def";
    InitialiseSimulationState(*sim, HomeFolder());
    ApplyDefinitionWorkPoint(sim->wp, cell.definitionExtras.workPoint);
    sim->wp.dark = 0;
    return ParseSweepRange(range, sim->actie.iv) && calculate_withMeta(cell, *sim, e, nullptr, nullptr) == 0;
  }
};

// The record panels and graphs by keyword.
inline int PanelIndexOf(const std::string& keyword) {
  const std::vector<PanelNames>& table = PanelTable();
  for (std::size_t i = 0; i < table.size(); ++i)
    if (keyword == table[i].keyword) return static_cast<int>(i);
  throw std::out_of_range("no panel " + keyword);
}
inline const PlotGraph& GraphOf(const PlotPanel& panel, const std::string& keyword) {
  for (const PlotGraph& g : panel.graphs)
    if (g.keyword == keyword) return g;
  throw std::out_of_range("no graph " + keyword + " in " + panel.keyword);
}

struct DecodedPng {
  bool ok = false;
  std::string error;
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;  // 3 bytes per pixel, rows top to bottom, transparency on white
};
inline DecodedPng DecodePng(const std::string& bytes) {
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
  png_color white{255, 255, 255};
  out.ok = png_image_finish_read(&image, &white, out.rgb.data(), 0, nullptr) != 0;
  out.error = out.ok ? "" : image.message;
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  png_image_free(&image);
  return out;
}

// The pixels p (r, g, b) for which keep(p) holds.
template <class Keep>
int CountPixels(const DecodedPng& image, Keep keep) {
  int count = 0;
  for (std::size_t i = 0; i + 2 < image.rgb.size(); i += 3) count += keep(&image.rgb[i]) ? 1 : 0;
  return count;
}
// The fraction of pixels that are not white.
inline double InkFraction(const DecodedPng& image) {
  const int ink = CountPixels(image, [](const std::uint8_t* p) { return p[0] != 255 || p[1] != 255 || p[2] != 255; });
  return image.rgb.empty() ? 0.0 : 3.0 * ink / static_cast<double>(image.rgb.size());
}
// Pixels within `tolerance` (per channel) of the colour 0xRRGGBB.
inline int PixelsNear(const DecodedPng& image, unsigned colour, int tolerance) {
  return CountPixels(image, [&](const std::uint8_t* p) {
    for (int c = 0; c < 3; ++c)
      if (std::abs(p[c] - static_cast<int>((colour >> (16 - 8 * c)) & 0xFF)) > tolerance) return false;
    return true;
  });
}
// Pixels of a clear colour (channels differing by more than 80): curves, not black text or grey.
inline int ColouredPixels(const DecodedPng& image) {
  return CountPixels(image, [](const std::uint8_t* p) {
    return std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) > 80;
  });
}

// A document parsed as XML (any well-formedness error fails), with its path elements.
struct ParsedSvg {
  bool ok = false;
  std::string error, root;                                 // root: name of the root element
  std::vector<std::pair<std::string, std::string>> paths;  // style and d of each path element
};
inline ParsedSvg ParseSvg(const std::string& bytes) {
  ParsedSvg svg;
  XML_Parser parser = XML_ParserCreate(nullptr);
  XML_SetUserData(parser, &svg);
  XML_SetStartElementHandler(parser, [](void* data, const XML_Char* name, const XML_Char** attributes) {
    ParsedSvg& s = *static_cast<ParsedSvg*>(data);
    if (s.root.empty()) s.root = name;
    if (std::strcmp(name, "path") != 0) return;
    s.paths.emplace_back();
    for (int i = 0; attributes[i]; i += 2) {
      if (std::strcmp(attributes[i], "style") == 0) s.paths.back().first = attributes[i + 1];
      if (std::strcmp(attributes[i], "d") == 0) s.paths.back().second = attributes[i + 1];
    }
  });
  svg.ok = XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), 1) != XML_STATUS_ERROR;
  if (!svg.ok)
    svg.error = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
                std::to_string(XML_GetCurrentLineNumber(parser));
  XML_ParserFree(parser);
  return svg;
}

}  // namespace zoniq::test
