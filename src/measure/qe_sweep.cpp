#include "measure/qe_sweep.hpp"

#include <algorithm>
#include <cmath>

#include "common/format.hpp"
#include "measure/simulation_driver.hpp"
#include "optics/generation.hpp"
#include "optics/illumination.hpp"
#include "optics/spectrum.hpp"
#include "solver/bias_stepping.hpp"
#include "solver/currents.hpp"
#include "solver/x_dependence.hpp"

namespace zoniq {

std::vector<double> AddSpectra(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> u(a);
  u.insert(u.end(), b.begin(), b.end());
  std::sort(u.begin(), u.end());
  u.erase(std::unique(u.begin(), u.end()), u.end());
  return u;
}

std::vector<double> QEWavelengths(int start, int stop, int n) {
  std::vector<double> l;
  if (n == 1) return {static_cast<double>(start)};
  for (int i = 0; i < n; ++i) l.push_back(static_cast<double>(start + (i * (stop - start)) / (n - 1)));
  return l;
}

namespace {

// A generation set with the optical configuration of `bias` and the given wavelengths, no power.
void LikeBias(const GenerationParameters& bias, const std::vector<double>& wavelengths, GenerationParameters& g) {
  g.ndTransmission = bias.ndTransmission;
  g.side = bias.side;
  g.windowOn = bias.windowOn;
  g.windowStart = bias.windowStart;
  g.windowEnd = bias.windowEnd;
  g.Rfront = bias.Rfront;
  g.IPV_Mode = bias.IPV_Mode;
  g.lightFactor = 1.0;
  g.fromFile = 0;
  g.wavelengths = wavelengths;
  g.numberOfWavelengths = static_cast<int>(wavelengths.size());
  g.watt_lambda.assign(wavelengths.size(), 0.0);
  g.incomingFlux_us.assign(wavelengths.size(), 0.0);
}

std::size_t IndexOf(const std::vector<double>& w, double l) {
  return static_cast<std::size_t>(std::lower_bound(w.begin(), w.end(), l) - w.begin());
}

bool SameMesh(const CalculationVariables& a, const CalculationVariables& b) {
  return a.mesh.N == b.mesh.N && std::equal(a.mesh.x.begin(), a.mesh.x.begin() + a.mesh.N, b.mesh.x.begin());
}

// The probe of wavelength λ [nm]: its power P [W/m²] and photon flux [1/m²s] by the QE mode (a
// fixed number of photons, mode 0, or a fixed power, mode 1, as the definition file describes
// the mode and the script's "set qe.photonflux" and "set qe.photonpower" set it).
void ProbeLight(const QELightSettings& light, double lambda, double& P, double& phi) {
  phi = light.numberOfPhotons;
  P = phi / (kPhotonsPerWattNm * lambda);
  if (light.mode == 1) {
    P = light.incidentPower;
    phi = P * kPhotonsPerWattNm * lambda;
  }
}

void FillQEResult(QEResult& r, const std::vector<double>& lambda, int colour) {
  const std::size_t n = lambda.size();
  r.present = 1;
  r.points = static_cast<int>(n);
  r.pointsDone = 0;
  r.colour = colour;
  r.lambda = lambda;
  r.QE.assign(n, 0.0);
  r.photonEnergy.assign(n, 0.0);
  for (std::size_t i = 0; i < n; ++i) r.photonEnergy[i] = 1239.977 / lambda[i];
}

bool QEFailure(SimulationState& s, const Environment& env, const std::vector<double>& lambda, std::size_t k) {
  s.QEConvergenceFailure = s.CONVERGENTIEFALING;
  if (!s.QEConvergenceFailure) return false;
  env.Error("While calculating QE...",
            k == 0 ? "Convergence failure at lambda = " + fix(lambda[k], 0, 2) + " nm.\nNo QE calculation was done"
                   : "Convergence failure at lambda = " + fix(lambda[k], 0, 2) +
                         " nm.\nQE calculation cut at lambda = " + fix(lambda[k - 1], 0, 2) + " nm.");
  return true;
}

// Back to the working point with its own light.
void RestoreWorkPoint(SimulationState& s, CalculationVariables& cv) {
  GenerationParameters& bias = s.generatieparameters;
  SolverContext* const ctx = cv.ctx;
  CopyCalculationVariables(cv, s.werkpuntcv);
  cv.ctx = ctx;
  cv.wavelengths = bias.wavelengths;
  InstallGenerationHook(cv, bias);
  Full_x_Dependence(cv);
  RecomputeGeneration(cv, bias);
}

// QE under a bias generation read from a file: at every wavelength the generation is the
// file's profile plus the probe's optical profile, on whatever mesh the solution takes (the
// hook evaluates both whenever the mesh changes).
int QEWithFileBias(SimulationState& s, const Environment& env, const CellState& cell, CalculationVariables& cv,
                   QEAction& action, SimulationRecord& record) {
  GenerationParameters& bias = s.generatieparameters;
  const std::vector<double> lambda = QEWavelengths(action.startLambda, action.stopLambda, action.points);
  GenerationParameters probe;
  LikeBias(bias, AddSpectra(lambda, {}), probe);
  if (BerekenFilterSpectra(env, probe, cell.parameterset1.cellParas) == 0) {
    s.QEConvergenceFailure = 1;
    return 0;
  }
  GenerationParameters file = bias;  // the file's profile, brought onto each mesh
  file.fromFile = 1;
  std::vector<double> fileG(static_cast<std::size_t>(MAXPOINTS), 0.0);
  const auto generation = [&probe, &file, &fileG](CalculationVariables& c) {
    RecomputeGeneration(c, file);
    std::copy(c.G.begin(), c.G.begin() + c.mesh.N, fileG.begin());
    RecomputeGeneration(c, probe);
    for (int j = 0; j < c.mesh.N; ++j) c.G[static_cast<std::size_t>(j)] += fileG[static_cast<std::size_t>(j)];
  };
  // Every wavelength starts from the working-point solution with the absorption at the probe's
  // wavelengths.
  CalculationVariables start;
  CopyCalculationVariables(start, s.werkpuntcv);
  start.ctx = cv.ctx;
  start.wavelengths = probe.wavelengths;
  Full_x_Dependence(start);
  PrepareAbsorption(start, probe);
  QEResult& r = record.qe;
  FillQEResult(r, lambda, s.kleurindex);
  const double J0 = s.JWorkingPoint;  // [mA/cm2], under the file's generation
  const double V = PresentBias(s.werkpuntcv);
  for (std::size_t k = 0; k < lambda.size(); ++k) {
    StatusMessage(env, 1);
    if (env.ui)
      env.ui->StatusMessage(" QE at " + fix(V, 0, 3) + " Volt, from " + std::to_string(action.startLambda) + " to " +
                            std::to_string(action.stopLambda) + " nm: " + fix(lambda[k], 0, 0) + " nm");
    double P = 0.0, phi = 0.0;
    ProbeLight(cell.definitionExtras.qe, lambda[k], P, phi);
    const std::size_t kp = IndexOf(probe.wavelengths, lambda[k]);
    std::fill(probe.watt_lambda.begin(), probe.watt_lambda.end(), 0.0);
    probe.watt_lambda[kp] = P;
    CalculateIncomingFluxes(probe, kPhotonsPerWattNm, 1);  // no neutral-density filter, no window
    probe.generationCurrent = 0;                           // the light changed: compute afresh
    SolverContext* const ctx = cv.ctx;
    CopyCalculationVariables(cv, start);
    cv.ctx = ctx;
    cv.regenerate = generation;
    generation(cv);
    update_psivar(cv);
    onder_belichting(s, cv);
    if (QEFailure(s, env, lambda, k)) break;
    r.pointsDone = static_cast<int>(k) + 1;
    extraheer_stroom(cv, s.stroom);
    r.QE[k] = -1000.0 * (s.stroom.j_tot[1] - J0) / (1.602e-19 * phi) + 0.0;  // no "-0"
  }
  action.pointsDone = r.pointsDone;
  RestoreWorkPoint(s, cv);
  return 1;
}

}  // namespace

int calcqe(SimulationState& s, const Environment& env, const CellState& cell, CalculationVariables& cv,
           QEAction& action, SimulationRecord& record) {
  const int n = action.points;
  action.pointsDone = 0;
  s.QEConvergenceFailure = s.WorkPointConvergenceFailure ? 1 : 0;
  if (s.QEConvergenceFailure) return 0;
  if (n < 1 || n > MAX_NUM_CALCULATION_STEPS_QE || action.startLambda <= 0 || action.stopLambda <= 0) {
    env.Error("Error in function calcqe()", "The QE sweep needs 1 to " + std::to_string(MAX_NUM_CALCULATION_STEPS_QE) +
                                                " points at positive wavelengths (" + std::to_string(n) +
                                                " points from " + std::to_string(action.startLambda) + " nm to " +
                                                std::to_string(action.stopLambda) + " nm asked)");
    s.QEConvergenceFailure = 1;
    return 0;
  }
  GenerationParameters& bias = s.generatieparameters;
  if (bias.fromFile) return QEWithFileBias(s, env, cell, cv, action, record);
  const QELightSettings& light = cell.definitionExtras.qe;
  const std::vector<double> lambda = QEWavelengths(action.startLambda, action.stopLambda, n);
  const std::vector<double> monoWavelengths = AddSpectra(lambda, {});
  GenerationParameters mono, sum;
  LikeBias(bias, monoWavelengths, mono);
  LikeBias(bias, AddSpectra(bias.wavelengths, lambda), sum);
  if (BerekenFilterSpectra(env, mono, cell.parameterset1.cellParas) == 0 ||
      BerekenFilterSpectra(env, sum, cell.parameterset1.cellParas) == 0) {
    s.QEConvergenceFailure = 1;
    return 0;
  }
  // The bias light's incoming flux at the wavelengths of the sum set (0 at the QE wavelengths
  // that the bias spectrum does not hold).
  std::vector<double> biasFlux(sum.wavelengths.size(), 0.0);
  for (std::size_t k = 0; k < bias.wavelengths.size() && k < bias.incomingFlux_us.size(); ++k) {
    const std::size_t j = IndexOf(sum.wavelengths, bias.wavelengths[k]);
    if (j < biasFlux.size() && sum.wavelengths[j] == bias.wavelengths[k]) biasFlux[j] += bias.incomingFlux_us[k];
  }

  QEResult& r = record.qe;
  FillQEResult(r, lambda, s.kleurindex);
  const double J0 = s.JWorkingPoint;  // [mA/cm2]
  const double V = PresentBias(s.werkpuntcv);

  // Every wavelength starts from the working-point solution with the absorption at all the
  // wavelengths of the sum set. The generation is linear in the light: the bias light's profile
  // is computed once on that mesh, and each probe replaces its own wavelength's column only. A
  // mesh that changes while solving regenerates the whole sum set there (the hook), and the
  // next wavelength starts afresh.
  CalculationVariables start;
  CopyCalculationVariables(start, s.werkpuntcv);
  start.ctx = cv.ctx;
  start.wavelengths = sum.wavelengths;
  Full_x_Dependence(start);
  PrepareAbsorption(start, sum);
  InstallGenerationHook(start, sum);
  const std::size_t nwl = sum.wavelengths.size();
  std::vector<double> Gbias, column(static_cast<std::size_t>(MAXPOINTS), 0.0);
  bool fresh = false;

  for (int i = 0; i < n; ++i) {
    const auto k = static_cast<std::size_t>(i);
    StatusMessage(env, 1);
    if (env.ui)
      env.ui->StatusMessage(" QE at " + fix(V, 0, 3) + " Volt, from " + std::to_string(action.startLambda) + " to " +
                            std::to_string(action.stopLambda) + " nm: " + fix(lambda[k], 0, 0) + " nm");
    double P = 0.0, phi = 0.0;
    ProbeLight(light, lambda[k], P, phi);
    const std::size_t km = IndexOf(mono.wavelengths, lambda[k]);
    mono.watt_lambda[km] = P;
    CalculateIncomingFluxes(mono, kPhotonsPerWattNm, 1);  // no neutral-density filter, no window
    const double monoFlux = mono.incomingFlux_us[km];
    mono.watt_lambda[km] = 0.0;

    SolverContext* const ctx = cv.ctx;
    CopyCalculationVariables(cv, start);
    cv.ctx = ctx;
    const int N = cv.mesh.N;
    if (!fresh) {
      sum.incomingFlux_us = biasFlux;
      if (CalculateFluxes(cv, sum, 0) == 0) {
        s.QEConvergenceFailure = 1;
        break;
      }
      CalculateGeneration(cv, sum, false);
      Gbias.assign(sum.G.begin(), sum.G.begin() + N);
      fresh = true;
    }
    const std::size_t ks = IndexOf(sum.wavelengths, lambda[k]);
    for (int j = 0; j < N; ++j) column[static_cast<std::size_t>(j)] = sum.spectralGeneration[j * nwl + ks];
    sum.incomingFlux_us[ks] = biasFlux[ks] + monoFlux;
    CalculateFluxesEverywhere(cv, sum, static_cast<int>(ks), 0);
    for (int j = 0; j < N; ++j) {
      const auto jj = static_cast<std::size_t>(j);
      sum.G[jj] = Gbias[jj] - column[jj] + sum.spectralGeneration[j * nwl + ks];
      cv.G[jj] = sum.G[jj];
    }
    sum.generationMesh.assign(cv.mesh.x.begin(), cv.mesh.x.begin() + N);
    sum.generationCurrent = 1;

    update_psivar(cv);
    onder_belichting(s, cv);
    // The probe's column back to the bias light (on the start mesh), or everything afresh.
    sum.incomingFlux_us[ks] = biasFlux[ks];
    if (SameMesh(cv, start) && sum.meshPoints == N) {
      for (int j = 0; j < N; ++j) sum.spectralGeneration[j * nwl + ks] = column[static_cast<std::size_t>(j)];
    } else {
      fresh = false;
    }
    if (QEFailure(s, env, lambda, k)) break;
    r.pointsDone = i + 1;
    extraheer_stroom(cv, s.stroom);
    const double J = s.stroom.j_tot[1];
    r.QE[k] = -1000.0 * (J - J0) / (1.602e-19 * phi) + 0.0;  // no "-0"
  }
  action.pointsDone = r.pointsDone;

  RestoreWorkPoint(s, cv);
  return 1;
}

}  // namespace zoniq
