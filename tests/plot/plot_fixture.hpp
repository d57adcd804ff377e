// What the picture tests share: one illuminated simulation of the shipped CIGS example, hand-made
// records of the sweeps, and the pictures read back (PNG through libpng, SVG through expat).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "celldef/cell_state.hpp"
#include "measure/simulation_state.hpp"
#include "output/band_diagram.hpp"
#include "plot/figure_model.hpp"
#include "ui/error_message.hpp"

namespace zoniq::test {

struct CigsRun {
  RecordingUserInterface ui;
  ErrorReporting errors;
  CellState cell;
  std::unique_ptr<SimulationState> sim = std::make_unique<SimulationState>();
  // Runs the example under AM1.5G with the I-V sweep `range`; false when the cell cannot be read
  // or the simulation did not run to its end.
  bool Run(const std::string& range);
  Environment env();
};

// A record holding a C-V curve (5 of 6 points done), a C-f and a QE curve, values chosen by hand.
SimulationRecord HandMadeSweepRecord(int number, int colour);

// The record panels and graphs by keyword.
int PanelIndexOf(const std::string& keyword);
const PlotGraph& GraphOf(const PlotPanel& panel, const std::string& keyword);

struct DecodedPng {
  bool ok = false;
  std::string error;
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;  // 3 bytes per pixel, rows top to bottom, transparency on white
};
DecodedPng DecodePng(const std::string& bytes);
double InkFraction(const DecodedPng& image);  // pixels that are not white
// Pixels within `tolerance` (per channel) of the colour 0xRRGGBB.
int PixelsNear(const DecodedPng& image, unsigned colour, int tolerance);
// Pixels of a clear colour (channels differing by more than 80): curves, not black text or grey.
int ColouredPixels(const DecodedPng& image);

struct ParsedSvg {
  bool ok = false;
  std::string error, root;                                 // root: name of the root element
  std::vector<std::pair<std::string, std::string>> paths;  // style and d of each path element
};
// Parses the document as XML (any well-formedness error fails) and collects its path elements.
ParsedSvg ParseSvg(const std::string& bytes);

}  // namespace zoniq::test
