#include "solver/calculation_parameters.hpp"

#include <algorithm>
#include <cmath>

#include "celldef/interpolation.hpp"
#include "common/format.hpp"
#include "solver/bulk_recombination.hpp"
#include "solver/interface_recombination.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

void GovernMaxMinMesh(double& maxRatio, double& minRatio) {
  if (maxRatio < minRatio) std::swap(maxRatio, minRatio);
  // NaN compares false everywhere above; it takes the nearest limit here.
  maxRatio = std::isnan(maxRatio) ? 3.0 : std::clamp(maxRatio, 1.1, 3.0);
  minRatio = std::isnan(minRatio) ? 1.0 : std::clamp(minRatio, 1.0, 1.3);
}

namespace {

// The values of a graded property at the two edges of a layer. `yEdge` holds the compositions
// at the edges, `xEdge` the positions [µm]. The property is evaluated on a copy, so the cell's
// own p5 and p6 are not touched.
std::array<double, 2> EdgeValues(const Profile& p, const std::array<double, 2>& yEdge,
                                 const std::array<double, 2>& xEdge, const Environment& env) {
  Profile copy = p;
  std::array<double, 2> out{};
  const auto& abscissae = copy.dependence == DEP_POSITION ? xEdge : yEdge;
  interpolation(copy, abscissae, out, 1, env);
  return out;
}

bool Positive(double v) { return std::isfinite(v) && v > 0.0; }

}  // namespace

int parameterset1_to_3(const InputParameters& set1, const MeshSettings& mesh, CalculationParameters& set3, double T,
                       const Environment* env, std::string* message) {
  RecordingUserInterface quietUi;
  ErrorReporting quietErrors;
  const Environment quiet{&quietUi, &quietErrors, env ? env->programFolder : std::string()};
  const Environment& e = (env && env->ui && env->errors) ? *env : quiet;

  auto fail = [&](const std::string& text) {
    if (message) *message = text;
    e.Error("Error", text);
    return -1;
  };

  const CellDefinition& cell = set1.cellParas;
  if (cell.numberOfLayers < 1 || cell.numberOfLayers > MAXLAYERS)
    return fail("The cell has no layers to calculate (number of layers " + std::to_string(cell.numberOfLayers) + ").");
  if (!(T > 0.0) || !std::isfinite(T)) return fail("The temperature must be above 0 K (T = " + num(T) + ").");
  {
    // Steps clamped to zero would stop every iteration in its tracks and report convergence;
    // a termination that is not a positive number would never (or always) be met.
    const ConvergenceParameters& c = set1.convergence;
    for (double v : {c.clamp_psi, c.clamp_n, c.clamp_p})
      if (!Positive(v)) return fail("The clamps of the iteration (clamp_psi, clamp_n, clamp_p) must be positive.");
    for (double v : {c.termination_psi, c.termination_Fn, c.termination_Fp})
      if (!Positive(v))
        return fail(
            "The terminations of the iteration (termination_psi, termination_Fn, termination_Fp) must be positive.");
    if (c.maxiter < 0) return fail("The iteration limit (maxiter) must not be negative.");
    // A tolerance that is not positive would refuse every solution.
    if (!Positive(c.acceptance_step) || !Positive(c.acceptance_current))
      return fail("The tolerances of the acceptance check (acceptance step, acceptance current) must be positive.");
    if (!(c.minimum_bias_step >= 0.0) || !std::isfinite(c.minimum_bias_step))
      return fail("The minimum bias step must be 0 (no halving) or positive.");
  }
  std::string defectProblem;
  if (!ValidateBulkDefects(cell, defectProblem)) {
    if (message) *message = defectProblem;
    e.Error(kBulkDefectErrorTitle, defectProblem);
    return -1;
  }
  if (!ValidateInterfaceDefects(cell, defectProblem)) {
    if (message) *message = defectProblem;
    e.Error(kInterfaceDefectErrorTitle, defectProblem);
    return -1;
  }
  // A barrier at an interface whose intraband tunnelling is on, next to a layer whose tunnelling
  // is on too, could be crossed by both mechanisms; each path is counted once, by the interface,
  // and the user is told which mechanism carries it.
  for (int l = 0; l + 1 < cell.numberOfLayers && l < MAXINTERFACES; ++l) {
    if (cell.interface[static_cast<std::size_t>(l)].intrabandTunneling == 0) continue;
    for (int side : {l, l + 1})
      if (cell.layer[static_cast<std::size_t>(side)].tunneling != 0)
        e.Error("Warning", "Interface " + std::to_string(l + 1) + " and layer " + std::to_string(side + 1) +
                               " both have tunnelling switched on: the paths through the barrier at the interface "
                               "are counted once, by the interface's intraband tunnelling; tunnelling in the layer "
                               "takes the paths below the band at the interface.");
  }

  CalculationParameters p;
  const double tau = T / 300.0;
  p.T = T;
  p.convergence = set1.convergence;
  p.mesh = mesh;
  GovernMaxMinMesh(p.mesh.maxRatio, p.mesh.minRatio);
  p.Vt = kVt300 * tau;
  p.energyUnit = p.Vt;
  p.nlayers = cell.numberOfLayers;
  std::string warning;
  p.defectdiscretisations = LimitDefectDiscretisations(set1.convergence.defectdiscretisations, warning);
  if (!warning.empty()) e.Error("Warning", warning);
  p.widthtail = set1.convergence.widthtail;
  p.widthgauss = set1.convergence.widthgauss;
  p.cell = cell;
  const double Vt = p.Vt;
  const double tau15 = std::pow(tau, 1.5);
  const double sqrtTau = std::sqrt(tau);

  // Layers: the material at both edges.
  std::array<std::array<double, 2>, MAXLAYERS> mu_n{}, mu_p{};
  double L = 0.0;
  for (int l = 0; l < p.nlayers; ++l) {
    const LayerParameters& lp = cell.layer[l];
    LayerCalcParameters& lc = p.layer[l];
    const std::string which = "layer " + std::to_string(l + 1);
    if (!Positive(lp.d)) return fail("The thickness of " + which + " must be positive.");
    lc.d = lp.d;
    L += lp.d;
    const std::array<double, 2> xEdge{0.0, lp.d * 1e6};
    std::array<double, 2> yEdge{};
    {
      Profile y = lp.composition;
      interpolation(y, xEdge, yEdge, 0, e);
    }
    lc.Eg = EdgeValues(lp.Eg, yEdge, xEdge, e);
    lc.chi = EdgeValues(lp.chi, yEdge, xEdge, e);
    lc.eps = EdgeValues(lp.eps, yEdge, xEdge, e);
    const auto Nc = EdgeValues(lp.Nc, yEdge, xEdge, e);
    const auto Nv = EdgeValues(lp.Nv, yEdge, xEdge, e);
    lc.ND = EdgeValues(lp.Nd, yEdge, xEdge, e);
    lc.NA = EdgeValues(lp.Na, yEdge, xEdge, e);
    mu_n[l] = EdgeValues(lp.mu_n, yEdge, xEdge, e);
    mu_p[l] = EdgeValues(lp.mu_p, yEdge, xEdge, e);
    lc.vth_n = EdgeValues(lp.v_th_n, yEdge, xEdge, e);
    lc.vth_p = EdgeValues(lp.v_th_p, yEdge, xEdge, e);
    for (int s = 0; s < 2; ++s) {
      if (!Positive(Nc[s]) || !Positive(Nv[s]))
        return fail("The effective densities of states of " + which + " must be positive.");
      if (!Positive(lc.eps[s])) return fail("The permittivity of " + which + " must be positive.");
      if (!Positive(mu_n[l][s]) || !Positive(mu_p[l][s]))
        return fail("The mobilities of " + which + " must be positive.");
      if (!std::isfinite(lc.Eg[s]) || lc.Eg[s] < 0.0 || !std::isfinite(lc.chi[s]))
        return fail("The band gap and electron affinity of " + which + " must be finite and the gap not negative.");
      if (!(lc.ND[s] >= 0.0) || !(lc.NA[s] >= 0.0) || !std::isfinite(lc.ND[s]) || !std::isfinite(lc.NA[s]))
        return fail("The doping densities of " + which + " must be finite and not negative.");
      if (!(lc.vth_n[s] >= 0.0) || !(lc.vth_p[s] >= 0.0))
        return fail("The thermal velocities of " + which + " must not be negative.");
      lc.NC[s] = tau15 * Nc[s];
      lc.NV[s] = tau15 * Nv[s];
      lc.vth_n[s] *= sqrtTau;
      lc.vth_p[s] *= sqrtTau;
      lc.ni[s] = std::sqrt(lc.NC[s] * lc.NV[s] * std::exp(-lc.Eg[s] / Vt));
      lc.Nref[s] = std::max(std::fabs(lc.ND[s] - lc.NA[s]), lc.ni[s]);
      lc.LD[s] = std::sqrt(Vt * lc.eps[s] * kEps0 / (lc.Nref[s] * kQ));
      lc.dopingType[s] = lc.ND[s] > lc.NA[s] ? -1 : (lc.NA[s] > lc.ND[s] ? 1 : 0);
    }
  }

  // Interfaces: band offsets and thermionic emission (velocities normalised below).
  for (int l = 0; l + 1 < p.nlayers; ++l) {
    const LayerCalcParameters& a = p.layer[l];
    const LayerCalcParameters& b = p.layer[l + 1];
    InterfaceCalcParameters& ic = p.interface[l];
    ic.dEc = b.chi[0] - a.chi[1];
    ic.dEv = a.Eg[1] - ic.dEc - b.Eg[0];
    // vth already carries sqrt(τ).
    ic.kappa_n = std::min(a.NC[1] * a.vth_n[1], b.NC[0] * b.vth_n[0]) / a.NC[1];
    if (ic.dEc < 0.0) ic.kappa_n *= std::exp(ic.dEc / Vt);
    ic.kappa_p = std::min(a.NV[1] * a.vth_p[1], b.NV[0] * b.vth_p[0]) / a.NV[1];
    if (ic.dEv < 0.0) ic.kappa_p *= std::exp(ic.dEv / Vt);
  }

  // Contact potentials: a flat-band contact takes the Fermi level of its neighbouring edge.
  auto flatband = [&](const LayerCalcParameters& lc, int s) {
    const double net = lc.ND[s] - lc.NA[s];
    if (net > 0.0) return lc.chi[s] + Vt * std::log(lc.NC[s] / net);
    if (net < 0.0) return lc.chi[s] + lc.Eg[s] - Vt * std::log(lc.NV[s] / -net);
    return lc.chi[s] + Vt * std::log(lc.NC[s] / lc.ni[s]);
  };
  p.Fi_left = cell.leftContact.flatband == 1 ? flatband(p.layer[0], 0) : cell.leftContact.Fi_m;
  p.Fi_right = cell.rightContact.flatband == 1 ? flatband(p.layer[p.nlayers - 1], 1) : cell.rightContact.Fi_m;
  if (!std::isfinite(p.Fi_left) || !std::isfinite(p.Fi_right))
    return fail("The work functions of the contacts must be finite.");

  // Scales.
  Schaal& s = p.schaal;
  double Dmax = 0.0;
  for (int l = 0; l < p.nlayers; ++l)
    for (int e2 = 0; e2 < 2; ++e2) Dmax = std::max({Dmax, sqrtTau * Vt * mu_n[l][e2], sqrtTau * Vt * mu_p[l][e2]});
  s.L = L;
  s.Dmax = Dmax;
  s.tijd = L * L / Dmax;
  s.snelheid = Dmax / L;
  for (int l = 0; l < p.nlayers; ++l) {
    LayerCalcParameters& lc = p.layer[l];
    s.S[l] = std::max(lc.Nref[0], lc.Nref[1]);
    s.lambda[l] = Vt * lc.eps[0] * kEps0 / (kQ * s.S[l] * L * L);
    s.invLS[l] = 1.0 / (L * s.S[l]);
  }

  // Normalise.
  for (int l = 0; l + 1 < p.nlayers; ++l) {
    p.interface[l].kappa_n /= s.snelheid;
    p.interface[l].kappa_p /= s.snelheid;
  }
  p.Sn_left = cell.leftContact.Sn / s.snelheid;
  p.Sp_left = cell.leftContact.Sp / s.snelheid;
  p.Sn_right = cell.rightContact.Sn / s.snelheid;
  p.Sp_right = cell.rightContact.Sp / s.snelheid;
  if (!(p.Sn_left >= 0.0) || !(p.Sp_left >= 0.0) || !(p.Sn_right >= 0.0) || !(p.Sp_right >= 0.0))
    return fail("The surface recombination velocities of the contacts must not be negative.");
  for (int l = 0; l < p.nlayers; ++l) {
    LayerCalcParameters& lc = p.layer[l];
    lc.dNorm = lc.d / L;
    for (int e2 = 0; e2 < 2; ++e2) {
      lc.LD[e2] /= L;
      lc.ni[e2] /= s.S[l];
    }
    for (auto& defect : p.cell.layer[l].srh)
      for (auto& level : defect) {
        level.sigma_n *= L * s.S[l];
        level.sigma_p *= L * s.S[l];
        for (double& sigma : level.optHoles.sigma) sigma *= L * s.S[l];
        for (double& sigma : level.optElectrons.sigma) sigma *= L * s.S[l];
      }
  }
  set3 = std::move(p);
  return 0;
}

}  // namespace zoniq
