// The optical generation on the solver's mesh against closed forms: Beer-Lambert decay, the
// flux with a back reflection and multiple internal reflections, photon conservation of the
// box-averaged generation under AM1.5G, and the generation on a changed mesh.
#include "optics/generation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "celldef/definition_file.hpp"
#include "optics/illumination.hpp"
#include "optics/spectrum.hpp"
#include "solver/dc_solve.hpp"
#include "solver/mesh.hpp"
#include "solver/test_cells.hpp"
#include "solver/x_dependence.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

constexpr double kHcNm = 1239.977;  // photon energy [eV] = kHcNm / λ [nm]

// α of the "coefficients A and B" model with B = 0: A·sqrt(hν − Eg) [1/m], 0 below the gap.
double ModelAlphaOf(double A, double Eg, double lambda) {
  const double e = kHcNm / lambda - Eg;
  return e > 0.0 ? A * std::sqrt(e) : 0.0;
}

// A monochromatic or tabulated light: the front transmits `Tfront`, the back reflects `Rb`.
GenerationParameters Light(const std::vector<double>& wl, const std::vector<double>& power, int side, double Tfront,
                           double Rb, double Rfront) {
  GenerationParameters gen;
  gen.side = side;
  gen.Rfront = Rfront;
  gen.wavelengths = wl;
  gen.watt_lambda = power;
  gen.numberOfWavelengths = static_cast<int>(wl.size());
  std::vector<double>& front = side > 0 ? gen.rightFilter : gen.leftFilter;
  std::vector<double>& back = side > 0 ? gen.leftFilter : gen.rightFilter;
  front.assign(wl.size(), Tfront);
  back.assign(wl.size(), Rb);
  return gen;
}

std::unique_ptr<DcProblem> Problem(const InputParameters& set, bool illuminated = false,
                                   const std::vector<double>& wl = {}) {
  auto pb = std::make_unique<DcProblem>();
  EXPECT_EQ(SetUpDcProblem(*pb, set, MeshSettings{}), 0) << pb->ctx.lastMessage;
  if (illuminated) {
    // The initial mesh as the simulation builds it under light: it resolves the absorption
    // depth at 300 nm near the surfaces.
    pb->cv.illuminated = 1;
    bepaal_alfa(pb->cv, wl);
    bepaal_intervallen(pb->cv);
    FillAllDefectRecords(pb->cv);
  }
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

// Physical units of the solver's values at point i of layer l.
double FluxUnit(const CalculationVariables& cv, int l) {
  const Schaal& s = cv.par->schaal;
  return s.S[l] * s.Dmax / s.L;  // normalised flux -> 1/m2/s
}
double RateUnit(const CalculationVariables& cv, int l) {
  const Schaal& s = cv.par->schaal;
  return s.S[l] * s.Dmax / (s.L * s.L);  // normalised rate -> 1/m3/s
}

// Σ_i G_i·(box width of i) in 1/m2/s: the photons the generation profile creates per area.
double GenerationPerArea(const CalculationVariables& cv, const std::vector<double>& G) {
  double sum = 0.0;
  const MeshBlock& m = cv.mesh;
  for (int l = 0; l < cv.par->nlayers; ++l)
    for (int i = m.first[l]; i <= m.last[l]; ++i) {
      const double hl = i > 0 ? m.xm[i] - m.xm[i - 1] : 0.0;
      const double hr = i + 1 < m.N ? m.xm[i + 1] - m.xm[i] : 0.0;
      sum += G[i] * RateUnit(cv, l) * 0.5 * (hl + hr);
    }
  return sum;
}

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
    EXPECT_CLOSE(value, ModelAlphaOf(layer.A[0], layer.Eg.p[0], lambda), 1e-3, 0.0);
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

TEST(MeshFlux, BeerLambertWithoutBackReflectionOnThreeLayers) {
  // Window, buffer and absorber of different band gaps all absorb at 350 nm (3.54 eV); with
  // the back reflection off the flux at x is Φ0·exp(−∫_x^L α dx) whatever Rfront is. The
  // mesh doubles the interface points and each interval takes the α of the point the light
  // comes from, so for uniform layers the discrete depth is the exact integral: only rounding
  // remains (a few hundred products of exponentials, < 1e-12 relative).
  const InputParameters set = test::ThinFilmCell(false);
  for (double Rfront : {0.0, 0.7}) {
    auto pb = Problem(set);
    CalculationVariables& cv = pb->cv;
    GenerationParameters gen = Light({350.0}, {10.0}, +1, 0.9, 0.0, Rfront);
    ASSERT_EQ(Illuminate(cv, gen), 1);
    const std::vector<double> alpha = LayerAlphas(cv, set, 350.0, 0);
    ASSERT_GT(alpha[2], 0.0);  // the 3.3 eV window absorbs at 350 nm
    // Φ0 = T·λ·P·5.035e15 (mode 1: no neutral density, no window).
    const double phi0 = 0.9 * 350.0 * 10.0 * kPhotonsPerWattNm;
    EXPECT_CLOSE(gen.incomingFlux_us[0], phi0, 1e-15, 0.0);
    for (int l = 0; l < 3; ++l)
      for (int i = cv.mesh.first[l]; i <= cv.mesh.last[l]; ++i) {
        const double expected = phi0 * std::exp(-DepthToRight(set, alpha, l, cv.mesh.xm[i]));
        EXPECT_CLOSE(gen.flux[i] * FluxUnit(cv, l), expected, 1e-11, 0.0) << "point " << i << " layer " << l;
      }
  }
}

TEST(MeshFlux, BackReflectionAndMultipleReflectionsMatchTheClosedForm) {
  // A weakly absorbing junction (A = 1e5: α = 2.47e4 /m at 1050 nm, optical thickness 0.148)
  // lit from the right with back reflection Rb = 0.6 and internal front reflection Rf = 0.3:
  //   Φ(x) = Φ0·[e^(−α(L−x)) + Rb·e^(−αL)·e^(−αx)] / (1 − Rf·Rb·e^(−2αL)).
  // The generation of a point is ∫ α·Φ dx over its box divided by the box width:
  //   (Φ0/den)/w·[(e^(−α(L−b)) − e^(−α(L−a))) + Rb·e^(−αL)·(e^(−αa) − e^(−αb))],
  // box [a, b] from midpoint to midpoint. Differences are written with expm1 so that the
  // expected values are exact to rounding: 1e-10 relative covers the boxes of 1e-11 m.
  test::PnOptions o;
  InputParameters set = test::PnJunction(o);
  for (int l = 0; l < 2; ++l) set.cellParas.layer[l].A = {1e5, 1e5};
  auto pb = Problem(set);
  CalculationVariables& cv = pb->cv;
  const double lambda = 1050.0, Rb = 0.6, Rf = 0.3;
  const double L = o.Wp + o.Wn;
  GenerationParameters gen = Light({lambda}, {2.0}, +1, 1.0, Rb, Rf);
  ASSERT_EQ(Illuminate(cv, gen), 1);
  const double a = LayerAlphas(cv, set, lambda, 0)[0];
  const double phi0 = lambda * 2.0 * kPhotonsPerWattNm;
  const double den = 1.0 - Rf * Rb * std::exp(-2.0 * a * L);
  const MeshBlock& m = cv.mesh;
  for (int l = 0; l < 2; ++l)
    for (int i = m.first[l]; i <= m.last[l]; ++i) {
      const double x = m.xm[i];
      const double flux = phi0 * (std::exp(-a * (L - x)) + Rb * std::exp(-a * L) * std::exp(-a * x)) / den;
      EXPECT_CLOSE(gen.flux[i] * FluxUnit(cv, l), flux, 1e-11, 0.0);
      // The box of a point stops at the layer edges (an interface point owns one side only).
      const double lo = i > m.first[l] ? 0.5 * (m.xm[i - 1] + x) : x;
      const double hi = i < m.last[l] ? 0.5 * (x + m.xm[i + 1]) : x;
      const double forward = std::exp(-a * (L - hi)) * -std::expm1(-a * (hi - lo));
      const double backward = Rb * std::exp(-a * L) * std::exp(-a * lo) * -std::expm1(-a * (hi - lo));
      const double G = phi0 / den * (forward + backward) / (hi - lo);
      EXPECT_CLOSE(gen.G[i] * RateUnit(cv, l), G, 1e-10, 0.0) << "point " << i;
      EXPECT_EQ(cv.G[i], gen.G[i]);
    }
}

// Photons absorbed per area [1/m2/s] in the closed form on the mesh: F = 1/den enters at the
// front, (1 − e^(−τin)) of it is absorbed on the way in, the back reflects Rb·F·e^(−τin), of
// which (1 − e^(−τback)) is absorbed on the way out; τ are the optical depths of the mesh.
double AbsorbedClosedForm(const CalculationVariables& cv, const GenerationParameters& gen) {
  const std::size_t nwl = gen.wavelengths.size();
  double total = 0.0;
  for (std::size_t k = 0; k < nwl; ++k) {
    double tin = 0.0, tback = 0.0;
    for (int i = 0; i + 1 < cv.mesh.N; ++i) {
      const double h = cv.mesh.xm[i + 1] - cv.mesh.xm[i];
      const double ai = cv.alpha.at(static_cast<std::size_t>(i), k);
      const double aj = cv.alpha.at(static_cast<std::size_t>(i + 1), k);
      // the light that enters travels away from the front and decays with the α it comes from
      tin += h * (gen.side > 0 ? aj : ai);
      tback += h * (gen.side > 0 ? ai : aj);
    }
    const double Rb = (gen.side > 0 ? gen.leftFilter : gen.rightFilter)[k];
    const double F = 1.0 / (1.0 - gen.Rfront * Rb * std::exp(-(tin + tback)));
    total += gen.incomingFlux_us[k] * F * (-std::expm1(-tin) + Rb * std::exp(-tin) * -std::expm1(-tback));
  }
  return total;
}

struct Env {
  RecordingUserInterface ui;
  ErrorReporting errors;
  Environment env{&ui, &errors, ""};
  Env() { env.programFolder = test::HomeFolder(); }
};

// The AM1.5G spectrum of the program folder as the working point reads it.
void SunLight(const Environment& env, GenerationParameters& gen) {
  WorkPoint wp;
  InitialiseWorkPoint(wp, env.programFolder);
  wp.dark = 0;
  ASSERT_GT(bepaal_spectrum(env, wp, gen.wavelengths, gen.watt_lambda), 1000);
  gen.numberOfWavelengths = static_cast<int>(gen.wavelengths.size());
}

TEST(PhotonConservation, ShippedCigsCellUnderAM15G) {
  // The shipped ZnO/CdS/CIGS cell on its illuminated initial mesh, with a back reflection of
  // 40 % and an internal front reflection of 20 % (so that every term of the closed form is
  // at work). The box-averaged generation integrated over the mesh is the number of photons
  // absorbed: both sides sum the same exponentials, so they agree to rounding (1e-10).
  Env e;
  InputParameters set;
  MottSchottkySettings ms;
  DefinitionExtras extras;
  ASSERT_EQ(lees_structuurfile(e.env, test::HomeFolder() + "/def/CIGS.def", set, ms, extras), 0);
  GenerationParameters gen;
  SunLight(e.env, gen);
  gen.side = +1;
  gen.Rfront = 0.2;
  set.cellParas.leftContact.filterOn = 1;
  set.cellParas.leftContact.wavelengthIndependent = 1;
  set.cellParas.leftContact.filterKind = 0;  // reflection [%]
  set.cellParas.leftContact.filterValue = 40.0;
  ASSERT_EQ(BerekenFilterSpectra(e.env, gen, set.cellParas), 1);
  auto pb = Problem(set, true, gen.wavelengths);
  CalculationVariables& cv = pb->cv;
  ASSERT_EQ(Illuminate(cv, gen, kPhotonsPerWattNm, 0), 1);
  const double absorbed = AbsorbedClosedForm(cv, gen);
  // About 2.7e21 photons/m2/s (43 mA/cm2) of AM1.5G lie above 1.2 eV; most are absorbed.
  EXPECT_GT(absorbed * kQ * 0.1, 25.0);
  EXPECT_CLOSE(GenerationPerArea(cv, gen.G), absorbed, 1e-10, 0.0);
  // The spectral generation of every wavelength sums to G.
  const std::size_t nwl = gen.wavelengths.size();
  for (int i = 0; i < cv.mesh.N; i += 7) {
    double sum = 0.0;
    for (std::size_t k = 0; k < nwl; ++k) sum += gen.spectralGeneration[i * nwl + k];
    EXPECT_CLOSE(sum, gen.G[i], 1e-12, 0.0);
  }
}

TEST(PhotonConservation, ThickAbsorberIsNotOvercounted) {
  // AM1.5G entering a 100 µm base at the left contact. Away from the contact the mesh
  // intervals grow to micrometres, longer than the absorption length of much of the
  // spectrum: α(x_i)·Φ(x_i) at the point times the box width then counts a box's photons at
  // the value of its point, and on this mesh that over-counts the absorbed photons by 13.9 %.
  // The box average counts exactly those absorbed.
  Env e;
  test::PnOptions o;
  o.Wp = 100e-6;
  const InputParameters set = test::PnJunction(o);
  GenerationParameters gen;
  SunLight(e.env, gen);
  gen.side = -1;
  gen.leftFilter.assign(gen.wavelengths.size(), 1.0);
  gen.rightFilter.assign(gen.wavelengths.size(), 0.0);
  auto pb = Problem(set);
  CalculationVariables& cv = pb->cv;
  ASSERT_EQ(Illuminate(cv, gen, kPhotonsPerWattNm, 0), 1);
  const double absorbed = AbsorbedClosedForm(cv, gen);
  EXPECT_CLOSE(GenerationPerArea(cv, gen.G), absorbed, 1e-10, 0.0);
  // The point-sampled generation of the same flux over-counts by several per cent.
  std::vector<double> sampled(cv.mesh.N, 0.0);
  const std::size_t nwl = gen.wavelengths.size();
  for (int i = 0; i < cv.mesh.N; ++i)
    for (std::size_t k = 0; k < nwl; ++k) sampled[i] += cv.alphaL.at(i, k) * gen.flux[i * nwl + k];
  EXPECT_GT(GenerationPerArea(cv, sampled) / absorbed, 1.10);
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
  auto pb = Problem(set);
  CalculationVariables& cv = pb->cv;
  GenerationParameters gen = Light({400.0, 700.0, 1000.0}, {1.0, 1.0, 1.0}, +1, 1.0, 0.3, 0.1);
  ASSERT_EQ(Illuminate(cv, gen), 1);
  InstallGenerationHook(cv, gen);
  HalveIntervals(cv);
  cv.regenerate(cv);
  auto fresh = Problem(set);
  HalveIntervals(fresh->cv);
  GenerationParameters gen2 = Light({400.0, 700.0, 1000.0}, {1.0, 1.0, 1.0}, +1, 1.0, 0.3, 0.1);
  ASSERT_EQ(Illuminate(fresh->cv, gen2), 1);
  for (int i = 0; i < cv.mesh.N; ++i) EXPECT_EQ(cv.G[i], fresh->cv.G[i]) << i;
  // The light ramp's factor survives a new mesh.
  SetGenerationFactor(cv, gen, 0.25);
  cv.regenerate(cv);
  for (int i = 0; i < cv.mesh.N; ++i) EXPECT_EQ(cv.G[i], 0.25 * gen.G[i]);
  // A stored solution on the first mesh (as the driver copies back the equilibrium): the
  // factor is applied to the generation of that mesh, not to the profile of the halved one.
  auto stored = Problem(set);
  bepaal_alfa(stored->cv, gen.wavelengths);
  SetGenerationFactor(stored->cv, gen, 0.5);
  auto first = Problem(set);
  GenerationParameters gen3 = Light({400.0, 700.0, 1000.0}, {1.0, 1.0, 1.0}, +1, 1.0, 0.3, 0.1);
  ASSERT_EQ(Illuminate(first->cv, gen3), 1);
  ASSERT_EQ(stored->cv.mesh.N, first->cv.mesh.N);
  for (int i = 0; i < first->cv.mesh.N; ++i) EXPECT_EQ(stored->cv.G[i], 0.5 * first->cv.G[i]) << i;
}

}  // namespace
}  // namespace zoniq
