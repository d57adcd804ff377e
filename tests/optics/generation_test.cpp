// The optical generation on the solver's mesh against the closed form of Beer-Lambert decay
// with a back reflection and multiple internal reflections, and the generation on a changed mesh.
#include "optics/generation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "optics/spectrum.hpp"
#include "solver/dc_solve.hpp"
#include "solver/mesh.hpp"
#include "solver/test_cells.hpp"
#include "solver/x_dependence.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

// A monochromatic or tabulated light: the front transmits `Tfront`, the back reflects `Rb`.
GenerationParameters Light(const std::vector<double>& wl, const std::vector<double>& power, int side, double Tfront,
                           double Rb, double Rfront) {
  GenerationParameters gen;
  gen.side = side, gen.Rfront = Rfront, gen.wavelengths = wl, gen.watt_lambda = power;
  gen.numberOfWavelengths = static_cast<int>(wl.size());
  (side > 0 ? gen.rightFilter : gen.leftFilter).assign(wl.size(), Tfront);
  (side > 0 ? gen.leftFilter : gen.rightFilter).assign(wl.size(), Rb);
  return gen;
}

std::unique_ptr<DcProblem> Problem(const InputParameters& set) {
  auto pb = std::make_unique<DcProblem>();
  EXPECT_EQ(SetUpDcProblem(*pb, set, MeshSettings{}), 0) << pb->ctx.lastMessage;
  return pb;
}

// The whole optical chain on cv's mesh: α, incoming fluxes (factor, mode), flux and generation.
int Illuminate(CalculationVariables& cv, GenerationParameters& gen, double factor = kPhotonsPerWattNm, int mode = 1) {
  PrepareAbsorption(cv, gen);
  CalculateIncomingFluxes(gen, factor, mode);
  const int ok = CalculateFluxes(cv, gen, 0);
  CalculateGeneration(cv, gen);
  return ok;
}

// Physical units of the solver's values in layer l: flux [1/m2/s] and rate [1/m3/s].
double FluxUnit(const CalculationVariables& cv, int l) {
  return cv.par->schaal.S[l] * cv.par->schaal.Dmax / cv.par->schaal.L;
}
double RateUnit(const CalculationVariables& cv, int l) { return FluxUnit(cv, l) / cv.par->schaal.L; }

// Every layer's α [1/m] at wavelength index k as the calculation holds it. The layers are
// uniform: every point of a layer must have the same α. The model's table is interpolated in
// ln α, so α agrees with A·sqrt(hν − Eg) to the table's accuracy (1e-3) only.
std::vector<double> LayerAlphas(const CalculationVariables& cv, const InputParameters& set, double lambda,
                                std::size_t k) {
  std::vector<double> a;
  for (int l = 0; l < set.cellParas.numberOfLayers; ++l) {
    const double value = cv.alpha.at(cv.mesh.first[l], k);
    for (int i = cv.mesh.first[l]; i <= cv.mesh.last[l]; ++i) EXPECT_EQ(cv.alpha.at(i, k), value);
    const LayerParameters& layer = set.cellParas.layer[l];
    // the "coefficients A and B" model with B = 0: A·sqrt(hν − Eg), hν = 1239.977 eV nm / λ
    EXPECT_CLOSE(value, layer.A[0] * std::sqrt(1239.977 / lambda - layer.Eg.p[0]), 1e-3, 0.0);
    a.push_back(value);
  }
  return a;
}

// ∫ α dx from position x [m] (in layer `layer`) to the right contact, uniform layers.
double DepthToRight(const InputParameters& set, const std::vector<double>& alpha, int layer, double x) {
  double start = 0.0;
  for (int l = 0; l < layer; ++l) start += set.cellParas.layer[l].d;
  double depth = alpha[layer] * (start + set.cellParas.layer[layer].d - x);
  for (int l = layer + 1; l < set.cellParas.numberOfLayers; ++l) depth += alpha[l] * set.cellParas.layer[l].d;
  return depth;
}

TEST(MeshFlux, ThreeLayersWithBackAndMultipleReflectionsMatchTheClosedForm) {
  // Absorber, buffer and window of different band gaps, all weakly absorbing at 350 nm
  // (optical depth τ_L ≈ 0.35 in all), lit from the right with back reflection Rb = 0.6 and
  // internal front reflection Rf = 0.3. With τ(x) = ∫_x^L α dx:
  //   Φ(x) = Φ0·[e^(−τ(x)) + Rb·e^(−τ_L)·e^(−(τ_L − τ(x)))] / (1 − Rf·Rb·e^(−2τ_L)).
  // The mesh doubles the interface points and each interval takes the α of the point the light
  // comes from, so for uniform layers the discrete depth is the exact integral. The generation
  // of a point is ∫ α·Φ dx over its box [lo, hi] (midpoint to midpoint, stopping at the layer
  // edges) divided by its width; differences are written with expm1 so that the expected
  // values are exact to rounding: 1e-11 relative for the flux, 1e-10 for boxes of 1e-11 m.
  InputParameters set = test::ThinFilmCell(false);
  const double A[3] = {1e5, 3e5, 2e5};
  for (int l = 0; l < 3; ++l) set.cellParas.layer[l].A = {A[l], A[l]};
  auto pb = Problem(set);
  CalculationVariables& cv = pb->cv;
  const double lambda = 350.0, Rb = 0.6, Rf = 0.3;
  GenerationParameters gen = Light({lambda}, {10.0}, +1, 0.9, Rb, Rf);
  gen.keepFlux = true;
  ASSERT_EQ(Illuminate(cv, gen), 1);
  const std::vector<double> alpha = LayerAlphas(cv, set, lambda, 0);
  // Φ0 = T·λ·P·5.035e15 (mode 1: no neutral density, no window).
  const double phi0 = 0.9 * lambda * 10.0 * kPhotonsPerWattNm;
  EXPECT_CLOSE(gen.incomingFlux_us[0], phi0, 1e-15, 0.0);
  const double tL = DepthToRight(set, alpha, 0, 0.0);
  const double den = 1.0 - Rf * Rb * std::exp(-2.0 * tL);
  const MeshBlock& m = cv.mesh;
  for (int l = 0; l < 3; ++l)
    for (int i = m.first[l]; i <= m.last[l]; ++i) {
      const double x = m.xm[i], t = DepthToRight(set, alpha, l, x);
      const double flux = phi0 * (std::exp(-t) + Rb * std::exp(-tL) * std::exp(-(tL - t))) / den;
      EXPECT_CLOSE(gen.flux[i] * FluxUnit(cv, l), flux, 1e-11, 0.0) << "point " << i << " layer " << l;
      const double lo = i > m.first[l] ? 0.5 * (m.xm[i - 1] + x) : x;
      const double hi = i < m.last[l] ? 0.5 * (x + m.xm[i + 1]) : x;
      const double inBox = -std::expm1(-alpha[l] * (hi - lo));
      const double forward = std::exp(-DepthToRight(set, alpha, l, hi)) * inBox;
      const double backward = Rb * std::exp(-tL) * std::exp(-(tL - DepthToRight(set, alpha, l, lo))) * inBox;
      EXPECT_CLOSE(gen.G[i] * RateUnit(cv, l), phi0 / den * (forward + backward) / (hi - lo), 1e-10, 0.0)
          << "point " << i;
      EXPECT_EQ(cv.G[i], gen.G[i]);
    }
}

// Halves every interval of the mesh (as a refinement of the solver would add points).
void HalveIntervals(CalculationVariables& cv) {
  const MeshBlock old = cv.mesh;
  MeshBlock& m = cv.mesh;
  int next = 0;
  for (int l = 0; l < cv.par->nlayers; ++l) {
    m.first[l] = next;
    for (int i = old.first[l]; i <= old.last[l]; ++i) {
      if (i > old.first[l]) m.x[next++] = 0.5 * (old.x[i - 1] + old.x[i]);
      m.x[next++] = old.x[i];
    }
    m.last[l] = next - 1;
  }
  m.N = next;
  CompleteMesh(m, cv.par->schaal.L);
  Full_x_Dependence(cv);
}

TEST(MeshFlux, GenerationFollowsTheMeshAfterItChanges) {
  // After the mesh changes the hook evaluates the absorption on the new points and recomputes
  // flux and generation; the result equals a fresh calculation on that mesh.
  const InputParameters set = test::ThinFilmCell(false);
  const auto light = [] { return Light({400.0, 700.0, 1000.0}, {1.0, 1.0, 1.0}, +1, 1.0, 0.3, 0.1); };
  auto pb = Problem(set), fresh = Problem(set), stored = Problem(set), first = Problem(set);
  CalculationVariables& cv = pb->cv;
  GenerationParameters gen = light(), gen2 = light(), gen3 = light();
  ASSERT_EQ(Illuminate(cv, gen), 1);
  InstallGenerationHook(cv, gen);
  HalveIntervals(cv);
  cv.regenerate(cv);
  HalveIntervals(fresh->cv);
  ASSERT_EQ(Illuminate(fresh->cv, gen2), 1);
  // Kept flux makes the loops run over every wavelength, not only up to each point's last
  // absorbed one (the window absorbs none of the three, the buffer only 400 nm): the same
  // numbers either way.
  GenerationParameters everywhere = light();
  everywhere.keepFlux = true;
  ASSERT_EQ(Illuminate(fresh->cv, everywhere), 1);
  for (int i = 0; i < cv.mesh.N; ++i) {
    EXPECT_EQ(cv.G[i], fresh->cv.G[i]) << i;
    double sum = 0.0;  // the spectral generation of every wavelength sums to G
    for (std::size_t k = 0; k < 3; ++k) {
      sum += gen.spectralGeneration[i * 3 + k];
      EXPECT_EQ(gen.spectralGeneration[i * 3 + k], everywhere.spectralGeneration[i * 3 + k]) << i << " " << k;
    }
    EXPECT_CLOSE(sum, gen.G[i], 1e-12, 0.0);
  }
  // The light ramp's factor survives a new mesh.
  SetGenerationFactor(cv, gen, 0.25);
  cv.regenerate(cv);
  for (int i = 0; i < cv.mesh.N; ++i) EXPECT_EQ(cv.G[i], 0.25 * gen.G[i]);
  // A stored solution on the first mesh (as the driver copies back the equilibrium): the
  // factor is applied to the generation of that mesh, not to the profile of the halved one.
  bepaal_alfa(stored->cv, gen.wavelengths);
  SetGenerationFactor(stored->cv, gen, 0.5);
  ASSERT_EQ(Illuminate(first->cv, gen3), 1);
  ASSERT_EQ(stored->cv.mesh.N, first->cv.mesh.N);
  for (int i = 0; i < first->cv.mesh.N; ++i) EXPECT_EQ(stored->cv.G[i], 0.5 * first->cv.G[i]) << i;
}

}  // namespace
}  // namespace zoniq
