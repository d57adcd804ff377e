// Fuzzes the illumination readers and the generation on a mesh: the bytes become the spectrum
// (with and without a wavelength window), both contact filter files and the generation file of
// a one-layer cell. Whatever the bytes, nothing may crash or hang, and every generation rate
// that comes out must be finite and not negative.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "optics/generation.hpp"
#include "optics/illumination.hpp"
#include "optics/spectrum.hpp"
#include "solver/dc_solve.hpp"

namespace {

// One 2 µm layer of the default material on its mesh, built once.
zoniq::DcProblem& Cell() {
  static std::unique_ptr<zoniq::DcProblem> pb = [] {
    zoniq::InputParameters set;
    zoniq::MottSchottkySettings ms;
    zoniq::InitialiseInputParameters(set, ms);
    zoniq::InitialiseLayerParameters(set.cellParas.layer[0], 0);
    set.cellParas.numberOfLayers = 1;
    auto p = std::make_unique<zoniq::DcProblem>();
    if (zoniq::SetUpDcProblem(*p, set, zoniq::MeshSettings{}) != 0) std::abort();
    return p;
  }();
  return *pb;
}

void RequireGeneration(const zoniq::CalculationVariables& cv) {
  for (int i = 0; i < cv.mesh.N; ++i)
    if (!std::isfinite(cv.G[i]) || cv.G[i] < 0.0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zoniq;
  static const std::string path = fuzz::InputPath("optics_fuzz");
  if (!fuzz::WriteInput(path, data, size)) return 0;
  RecordingUserInterface ui;
  ErrorReporting errors;
  Environment env;
  env.ui = &ui;
  env.errors = &errors;
  env.programFolder = std::filesystem::temp_directory_path().string();
  DcProblem& pb = Cell();
  CalculationVariables& cv = pb.cv;

  for (int window : {0, 1}) {
    WorkPoint wp;
    InitialiseWorkPoint(wp, env.programFolder);
    wp.dark = 0;
    wp.spectrumFile = path;
    wp.spectrumCutOff = window;
    wp.shortWavelengthCutOff = 400.0;
    wp.longWavelengthCutOff = 900.0;
    GenerationParameters gen;
    gen.side = window ? -1 : +1;
    gen.Rfront = 0.5;
    gen.windowOn = window;
    gen.windowStart = wp.shortWavelengthCutOff;
    gen.windowEnd = wp.longWavelengthCutOff;
    if (bepaal_spectrum(env, wp, gen.wavelengths, gen.watt_lambda) <= 0) continue;
    if (!std::isfinite(wp.spectrumPower) || !std::isfinite(wp.windowPower)) std::abort();
    CellDefinition cell;
    for (ContactParameters* c : {&cell.leftContact, &cell.rightContact}) {
      c->filterOn = 1;
      c->filterFile = path;
      c->filterKind = window;
    }
    if (BerekenFilterSpectra(env, gen, cell) != 1) continue;
    PrepareAbsorption(cv, gen);
    CalculateIncomingFluxes(gen, kPhotonsPerWattNm, 0);
    CalculateFluxes(cv, gen, 0);
    CalculateGeneration(cv, gen);
    RequireGeneration(cv);
  }

  WorkPoint wp;
  InitialiseWorkPoint(wp, env.programFolder);
  wp.dark = 0;
  wp.generationFile = path;
  GenerationParameters gen;
  bereken_generatie_uit_file(env, cv, gen, wp);
  RequireGeneration(cv);
  CalculateIdealGenerationCurrent(env, wp);
  if (!std::isfinite(wp.idealGenerationCurrent)) std::abort();
  return 0;
}
