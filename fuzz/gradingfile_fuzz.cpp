// Fuzzes the readers of tabulated files: the bytes become a grading file (law 12, over
// composition and over position), the absorption files of both pure materials of a graded
// layer, an optical capture file, and a two-column data file of several kinds. Whatever the
// bytes, nothing may crash or hang, and every value that comes out must be finite.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "celldef/absorption.hpp"
#include "celldef/data_files.hpp"
#include "celldef/interpolation.hpp"
#include "common/zoniq_paths.hpp"
#include "fuzz_support.hpp"
#include "ui/error_message.hpp"
#include "ui/user_interface.hpp"

namespace {

void RequireFinite(const std::vector<double>& values) {
  for (double v : values)
    if (!std::isfinite(v)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zoniq;
  static const std::string path = fuzz::InputPath("gradingfile_fuzz");
  if (!fuzz::WriteInput(path, data, size)) return 0;
  RecordingUserInterface ui;
  ErrorReporting errors;
  Environment env;
  env.ui = &ui;
  env.errors = &errors;
  env.programFolder = std::filesystem::temp_directory_path().string();

  // law 12 over composition and over positions [µm]
  Profile grading;
  grading.law = LAW_FROM_FILE;
  grading.gradingFile = path;
  const std::vector<double> compositions = {0.0, 0.1, 0.5, 0.9, 1.0};
  std::vector<double> values(compositions.size());
  interpolation(grading, compositions, values, 1, env);
  RequireFinite(values);
  grading.dependence = DEP_POSITION;
  const std::vector<double> positions = {3.0, 3.5, 4.0, 10.0};
  values.resize(positions.size());
  interpolation(grading, positions, values, 1, env);
  RequireFinite(values);

  // a graded layer whose pure materials are both described by the file
  LayerParameters layer;
  InitialiseLayerParameters(layer, 0);
  layer.Eg.p[0] = 1.0;
  layer.Eg.p[1] = 2.0;
  layer.Eg.law = LAW_LINEAR;
  layer.composition.law = LAW_LINEAR;
  layer.absorptionModel = {ABS_MODEL_FILE, ABS_MODEL_FILE};
  layer.absorptionFile = {path, path};
  AlphaTable tableA, tableB;
  PrepareLayerAlphaTables(layer, tableA, tableB, env);
  const std::vector<double> wavelengths = {250.0, 400.0, 600.0, 800.0, 1100.0, 2400.0};
  std::vector<double> alpha(wavelengths.size());
  for (double y : {0.0, 0.3, 1.0}) {
    InterpolateAlpha(layer, layer.absorption, wavelengths, alpha, tableA, tableB, y, env);
    RequireFinite(alpha);
    for (double a : alpha)
      if (a < 0.0) std::abort();
  }
  RequireFinite({ExtractLayerAlpha(layer, 300.0, env)});

  // an optical capture file resampled onto the wavelengths
  OpticalCaptureProperties capture;
  capture.file = path;
  if (ReadOpticalCaptureParametersFromFile(capture, env) > 0) {
    InterpolateOpticalCaptureProperties(capture, wavelengths, env);
    RequireFinite(capture.sigma);
  }

  // the plain reader, as the spectrum, generation and list readers use it
  for (int kind : {FK_SPECTRUM, FK_GENERATION, FK_BDF}) {
    std::vector<double> x, y;
    lees_file(path, x, y, kind, env);
    RequireFinite(x);
    RequireFinite(y);
    tel_lijnen_in_file(path, kind, env);
  }
  return 0;
}
