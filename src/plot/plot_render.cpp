#include "plot/plot_render.hpp"

#include <plplot/plplot.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>

#include "common/paths.hpp"
#include "common/text.hpp"

namespace zoniq {

namespace {

// PLplot keeps its streams in a table inside the library and draws on "the current stream": a
// process-wide state that is not safe for two threads at once. Every drawing holds this lock,
// makes a stream of its own and restores the stream that was current before, so sessions that
// draw side by side do not see each other.
std::mutex& PlplotLock() {
  static std::mutex lock;
  return lock;
}

constexpr int kMinSize = 16, kMaxSize = 4000;  // [pixels]; 4000 x 4000 RGBA is 64 MB
constexpr std::size_t kMaxLegendEntries = 12;

// PLplot reads '#' as the start of an escape sequence; "##" draws the character itself.
std::string PlotText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c;
    if (c == '#') out += '#';
  }
  return out;
}

// True when PLplot can load the device (the cairo drivers are a separate package). Asking for
// a missing device would make PLplot prompt for one on standard input.
bool DeviceAvailable(const char* device) {
  std::array<const char*, 128> menu{}, names{};
  int n = static_cast<int>(names.size());
  const char** menuList = menu.data();
  const char** nameList = names.data();
  plgDevs(&menuList, &nameList, &n);
  for (int i = 0; i < n && i < static_cast<int>(names.size()); ++i)
    if (names[static_cast<std::size_t>(i)] && std::string(names[static_cast<std::size_t>(i)]) == device) return true;
  return false;
}

double AxisValue(double v, AxisScale scale) { return scale == AxisScale::kLog ? std::log10(v) : v; }

// Draws one graph in the current sub-page; its series use the colour indices from
// `firstColour` on.
void DrawGraph(const PlotGraph& g, int firstColour, double charScale) {
  plschr(0.0, charScale);
  const double xmin = AxisValue(g.x.min, g.x.scale), xmax = AxisValue(g.x.max, g.x.scale);
  const double ymin = AxisValue(g.y.min, g.y.scale), ymax = AxisValue(g.y.max, g.y.scale);
  if (g.equalAxes) {
    // Equal spans on a square viewport: one unit is as long on both axes.
    plvasp(1.0);
  } else {
    plvsta();
  }
  plwind(xmin, xmax, ymin, ymax);
  plcol0(1);
  pllsty(1);
  plwidth(1.0);
  plbox(g.x.scale == AxisScale::kLog ? "bcnstl" : "bcnst", 0.0, 0, g.y.scale == AxisScale::kLog ? "bcnstlv" : "bcnstv",
        0.0, 0);
  pllab(PlotText(g.x.title).c_str(), PlotText(g.y.title).c_str(), PlotText(g.title).c_str());

  std::vector<PLFLT> x, y;
  for (std::size_t s = 0; s < g.series.size(); ++s) {
    const PlotSeries& series = g.series[s];
    x.resize(series.x.size());
    y.resize(series.y.size());
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = AxisValue(series.x[i], g.x.scale);
    for (std::size_t i = 0; i < y.size(); ++i) y[i] = AxisValue(series.y[i], g.y.scale);
    plcol0(firstColour + static_cast<int>(s));
    pllsty(static_cast<PLINT>(series.style));
    plwidth(2.0);
    if (x.size() == 1)
      plpoin(1, x.data(), y.data(), 17);
    else
      plline(static_cast<PLINT>(x.size()), x.data(), y.data());
  }
  pllsty(1);
  plwidth(1.0);
  plcol0(1);
  if (!g.note.empty()) plmtex("t", -2.0, 0.5, 0.5, PlotText(g.note).c_str());

  if (g.series.empty()) return;
  // The legend, inside the top right corner; a long list ends with how many are left out.
  const std::size_t shown = std::min(g.series.size(), kMaxLegendEntries);
  const bool more = g.series.size() > shown;
  const std::size_t entries = shown + (more ? 1 : 0);
  std::vector<std::string> texts(entries);
  std::vector<const char*> textPointers(entries);
  std::vector<PLINT> opts(entries, PL_LEGEND_LINE), textColours(entries, 1), lineColours(entries), lineStyles(entries);
  std::vector<PLFLT> lineWidths(entries, 2.0);
  for (std::size_t e = 0; e < shown; ++e) {
    texts[e] = PlotText(g.series[e].name);
    lineColours[e] = firstColour + static_cast<int>(e);
    lineStyles[e] = static_cast<PLINT>(g.series[e].style);
  }
  if (more) {
    texts[shown] = "and " + std::to_string(g.series.size() - shown) + " more";
    opts[shown] = PL_LEGEND_NONE;
    lineColours[shown] = 1;
    lineStyles[shown] = 1;
  }
  for (std::size_t e = 0; e < entries; ++e) textPointers[e] = texts[e].c_str();
  PLFLT width = 0.0, height = 0.0;
  pllegend(&width, &height, PL_LEGEND_BACKGROUND | PL_LEGEND_BOUNDING_BOX,
           PL_POSITION_RIGHT | PL_POSITION_TOP | PL_POSITION_INSIDE, 0.02, 0.02, 0.06, 0, 1, 1, 0, 0,
           static_cast<PLINT>(entries), opts.data(), 0.8, 0.7, 1.8, 0.0, textColours.data(), textPointers.data(),
           nullptr, nullptr, nullptr, nullptr, lineColours.data(), lineStyles.data(), lineWidths.data(), nullptr,
           nullptr, nullptr, nullptr);
}

// Collects what an in-memory stream received; freed with the object.
struct MemoryFile {
  char* buffer = nullptr;
  std::size_t size = 0;
  ~MemoryFile() { std::free(buffer); }
};

}  // namespace

bool PictureFormatOfFile(const std::string& fileName, PictureFormat& format) {
  const std::string part = FileNamePart(fileName);
  const std::size_t dot = part.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string ext = part.substr(dot);
  if (EqualsNoCase(ext, ".png")) {
    format = PictureFormat::kPng;
    return true;
  }
  if (EqualsNoCase(ext, ".svg")) {
    format = PictureFormat::kSvg;
    return true;
  }
  return false;
}

std::vector<const PlotGraph*> SelectedGraphs(const PlotPanel& panel, const std::vector<int>& which) {
  std::vector<const PlotGraph*> graphs;
  if (which.empty())
    for (const PlotGraph& g : panel.graphs) graphs.push_back(&g);
  for (int k : which)
    if (k >= 0 && k < static_cast<int>(panel.graphs.size()))
      graphs.push_back(&panel.graphs[static_cast<std::size_t>(k)]);
  return graphs;
}

bool RenderPicture(const std::vector<const PlotGraph*>& graphs, const PictureOptions& options, std::string& bytes,
                   std::string& error) {
  bytes.clear();
  if (graphs.empty()) {
    error = "No graph to draw";
    return false;
  }
  if (options.width < kMinSize || options.width > kMaxSize || options.height < kMinSize || options.height > kMaxSize) {
    error = "The picture size " + std::to_string(options.width) + "x" + std::to_string(options.height) +
            " is outside " + std::to_string(kMinSize) + " ... " + std::to_string(kMaxSize) + " pixels";
    return false;
  }
  const char* device = options.format == PictureFormat::kPng ? "pngcairo" : "svgcairo";

  // Colour map 0: white page, black axes and text, then one entry per series of every graph.
  std::vector<PLINT> r{255, 0}, g{255, 0}, b{255, 0};
  std::vector<int> firstColour;
  for (const PlotGraph* graph : graphs) {
    firstColour.push_back(static_cast<int>(r.size()));
    for (const PlotSeries& s : graph->series) {
      r.push_back(static_cast<PLINT>((s.colour >> 16) & 0xFF));
      g.push_back(static_cast<PLINT>((s.colour >> 8) & 0xFF));
      b.push_back(static_cast<PLINT>(s.colour & 0xFF));
    }
  }
  const int columns = graphs.size() > 1 ? 2 : 1;
  const int rows = static_cast<int>((graphs.size() + 1) / static_cast<std::size_t>(columns));
  const double charScale = graphs.size() > 1 ? 0.75 : 1.0;

  std::lock_guard<std::mutex> lock(PlplotLock());
  if (!DeviceAvailable(device)) {
    error = std::string("The drawing library has no '") + device +
            "' device: install PLplot's cairo drivers (Debian package plplot-driver-cairo)";
    return false;
  }
  MemoryFile memory;
  // PLplot writes into this stream and closes it when the drawing ends; the file on disk is
  // written afterwards, by us, so that every failure to write is ours to report.
  std::FILE* out = open_memstream(&memory.buffer, &memory.size);
  if (!out) {
    error = "No memory for the picture";
    return false;
  }
  PLINT previous = 0;
  plgstrm(&previous);
  PLINT stream = 0;
  plmkstrm(&stream);
  if (stream < 0) {
    std::fclose(out);
    error = "The drawing library has no free stream";
    return false;
  }
  plsdev(device);
  plsfile(out);
  const std::string geometry = std::to_string(options.width) + "x" + std::to_string(options.height);
  plsetopt("geometry", geometry.c_str());
  plscmap0n(static_cast<PLINT>(r.size()));
  plscmap0(r.data(), g.data(), b.data(), static_cast<PLINT>(r.size()));
  plssub(columns, rows);
  plinit();
  for (std::size_t k = 0; k < graphs.size(); ++k) {
    pladv(static_cast<PLINT>(k + 1));
    DrawGraph(*graphs[k], firstColour[k], charScale);
  }
  plend1();  // finishes the page and closes `out`
  plsstrm(previous);
  if (memory.buffer == nullptr || memory.size == 0) {
    error = "The drawing library produced no picture";
    return false;
  }
  bytes.assign(memory.buffer, memory.size);
  return true;
}

bool WritePicture(const std::vector<const PlotGraph*>& graphs, const PictureOptions& options, const std::string& path,
                  std::string& error) {
  std::string bytes;
  if (!RenderPicture(graphs, options, bytes, error)) return false;
  FilePtr file = OpenFile(NativePath(path), "wb");
  if (!file) {
    error = "The picture cannot be written: " + path;
    return false;
  }
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  const bool closed = std::fclose(file.release()) == 0;
  if (!ok || !closed) {
    error = "The picture could not be written completely: " + path;
    return false;
  }
  return true;
}

bool WritePanelPictures(const SimulationState& s, const std::string& folder, std::vector<std::string>& written,
                        std::string& error, const RecordedResults* recorded) {
  std::error_code ec;
  const std::filesystem::path dir(NativePath(folder));
  std::filesystem::create_directories(dir, ec);
  if (!std::filesystem::is_directory(dir, ec)) {
    error = "The folder for the pictures cannot be made: " + folder;
    return false;
  }
  BandDiagramProfiles bands;
  PlotSources sources = SourcesFromSimulation(s, bands);
  sources.recorded = recorded;
  for (int k = 0; k < static_cast<int>(PanelTable().size()); ++k) {
    const PlotPanel panel = BuildPanel(k, sources);
    if (!PanelHasData(panel)) continue;
    const std::string path = (dir / (panel.keyword + ".png")).string();
    if (!WritePicture(SelectedGraphs(panel), PictureOptions{}, path, error)) return false;
    written.push_back(path);
  }
  return true;
}

}  // namespace zoniq
