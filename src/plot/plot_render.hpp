// Drawing the figure model: graphs of a panel as a PNG picture (what "save graph" writes) or
// as SVG (vector graphics for papers), through PLplot's cairo drivers. Works without a display.
#pragma once

#include <string>
#include <vector>

#include "plot/figure_model.hpp"

namespace zoniq {

enum class PictureFormat { kPng, kSvg };

struct PictureOptions {
  PictureFormat format = PictureFormat::kPng;
  int width = 1000;  // [pixels; SVG: points]
  int height = 750;
};

// The picture format a file name asks for by its extension (".png" or ".svg", any case); false
// for any other extension.
bool PictureFormatOfFile(const std::string& fileName, PictureFormat& format);

// Draws `graphs` on one page (side by side in two columns when more than one) into `bytes`.
// Returns true, or false with the reason in `error` (no graph, a size outside 16 … 4000
// pixels, or the drawing library lacks its cairo drivers).
bool RenderPicture(const std::vector<const PlotGraph*>& graphs, const PictureOptions& options, std::string& bytes,
                   std::string& error);

// Draws and writes the picture to `path` (created or truncated). Returns true, or false with a
// message in `error` that names the file when it cannot be written.
bool WritePicture(const std::vector<const PlotGraph*>& graphs, const PictureOptions& options, const std::string& path,
                  std::string& error);

// The graphs of a panel selected by index (all when `which` is empty).
std::vector<const PlotGraph*> SelectedGraphs(const PlotPanel& panel, const std::vector<int>& which = {});

// The pictures of a run: every panel that holds data, as "<panel>.png" in `folder` (created
// when missing). `written` receives the file paths. Returns true, or false with the reason in
// `error` at the first picture that cannot be written.
bool WritePanelPictures(const SimulationState& s, const std::string& folder, std::vector<std::string>& written,
                        std::string& error,
                        const RecordedResults* recorded = nullptr);

}  // namespace zoniq
