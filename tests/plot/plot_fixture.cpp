#include "plot_fixture.hpp"

#include <expat.h>
#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "celldef/definition_file.hpp"
#include "measure/simulation_driver.hpp"
#include "test_util.hpp"

namespace zoniq::test {

Environment CigsRun::env() { return Environment{&ui, &errors, HomeFolder()}; }

bool CigsRun::Run(const std::string& range) {
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
  if (!ParseSweepRange(range, sim->actie.iv)) return false;
  return calculate_withMeta(cell, *sim, e, nullptr, nullptr) == 0;
}

SimulationRecord HandMadeSweepRecord(int number, int colour) {
  SimulationRecord r;
  r.number = number;
  CVResult& cv = r.cv;
  cv.present = 1;
  cv.points = 6;
  cv.pointsDone = 5;
  cv.colour = colour;
  cv.v = {-0.4, -0.2, 0.0, 0.2, 0.4, 0.6};
  cv.C = {20.0, 25.0, 32.0, 40.0, 50.0, 0.0};
  cv.G = {1e-6, 2e-6, 4e-6, 8e-6, 1.6e-5, 0.0};
  cv.W = {0.5, 0.4, 0.3, 0.25, 0.2, 0.0};
  cv.Napp = {1e15, 2e15, 5e15, 1e16, 3e16, 0.0};
  CfResult& cf = r.cf;
  cf.present = 1;
  cf.points = cf.pointsDone = 4;
  cf.colour = colour;
  cf.f = {1e2, 1e3, 1e4, 1e5};
  cf.C = {40.0, 38.0, 30.0, 22.0};
  cf.G = {1e-5, 4e-5, 2e-4, 1e-3};
  cf.Zre = {100.0, 80.0, 30.0, 5.0};
  cf.Zim = {-10.0, -40.0, -35.0, -8.0};
  QEResult& qe = r.qe;
  qe.present = 1;
  qe.points = qe.pointsDone = 3;
  qe.colour = colour;
  qe.lambda = {400.0, 700.0, 1000.0};
  qe.QE = {70.0, 90.0, 60.0};
  qe.photonEnergy = {3.0999, 1.7714, 1.2400};
  return r;
}

int PanelIndexOf(const std::string& keyword) {
  const std::vector<PanelNames>& table = PanelTable();
  for (std::size_t i = 0; i < table.size(); ++i)
    if (keyword == table[i].keyword) return static_cast<int>(i);
  throw std::out_of_range("no panel " + keyword);
}

const PlotGraph& GraphOf(const PlotPanel& panel, const std::string& keyword) {
  for (const PlotGraph& g : panel.graphs)
    if (g.keyword == keyword) return g;
  throw std::out_of_range("no graph " + keyword + " in " + panel.keyword);
}

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
  png_color white{255, 255, 255};
  out.ok = png_image_finish_read(&image, &white, out.rgb.data(), 0, nullptr) != 0;
  out.error = out.ok ? "" : image.message;
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  png_image_free(&image);
  return out;
}

namespace {

template <class Keep>
int CountPixels(const DecodedPng& image, Keep keep) {
  int count = 0;
  for (std::size_t i = 0; i + 2 < image.rgb.size(); i += 3) count += keep(&image.rgb[i]) ? 1 : 0;
  return count;
}

}  // namespace

double InkFraction(const DecodedPng& image) {
  const int ink = CountPixels(image, [](const std::uint8_t* p) { return p[0] != 255 || p[1] != 255 || p[2] != 255; });
  return image.rgb.empty() ? 0.0 : 3.0 * ink / static_cast<double>(image.rgb.size());
}

int PixelsNear(const DecodedPng& image, unsigned colour, int tolerance) {
  return CountPixels(image, [&](const std::uint8_t* p) {
    for (int c = 0; c < 3; ++c)
      if (std::abs(p[c] - static_cast<int>((colour >> (16 - 8 * c)) & 0xFF)) > tolerance) return false;
    return true;
  });
}

int ColouredPixels(const DecodedPng& image) {
  return CountPixels(image, [](const std::uint8_t* p) {
    return std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) > 80;
  });
}

ParsedSvg ParseSvg(const std::string& bytes) {
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
