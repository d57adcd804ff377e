#include "measure/admittance_analysis.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <utility>
#include <variant>
#include <vector>

#include "common/format.hpp"

namespace zoniq {

namespace {

constexpr double kQ = 1.602e-19;     // [C]
constexpr double kEps0 = 8.854e-12;  // [F/m]
constexpr double kTwoPi = 6.283185307179586;
constexpr int kMaxOrder = 6;
constexpr const char* kTitle = "Admittance spectroscopy analysis";

bool Finite(double v) { return std::isfinite(v); }
bool Positive(double v) { return std::isfinite(v) && v > 0.0; }

// The slope at t = 0 of the least-squares polynomial of `order` through (t_k, y_k), k < m, with
// t scaled to [−1, 1]: the normal equations solved by elimination with partial pivoting.
bool SlopeAtOrigin(const double* t, const double* y, int m, int order, double& slope) {
  constexpr int K = kMaxOrder + 1;
  double M[K][K + 1] = {};
  const int c = order + 1;
  for (int k = 0; k < m; ++k) {
    double pw[2 * K] = {};
    pw[0] = 1.0;
    for (int j = 1; j < 2 * c - 1; ++j) pw[j] = pw[j - 1] * t[k];
    for (int r = 0; r < c; ++r) {
      for (int q = 0; q < c; ++q) M[r][q] += pw[r + q];
      M[r][c] += pw[r] * y[k];
    }
  }
  for (int col = 0; col < c; ++col) {
    int p = col;
    for (int r = col + 1; r < c; ++r)
      if (std::fabs(M[r][col]) > std::fabs(M[p][col])) p = r;
    if (!(std::fabs(M[p][col]) > 0.0)) return false;
    if (p != col)
      for (int q = 0; q <= c; ++q) std::swap(M[col][q], M[p][q]);
    for (int r = col + 1; r < c; ++r) {
      const double g = M[r][col] / M[col][col];
      for (int q = col; q <= c; ++q) M[r][q] -= g * M[col][q];
    }
  }
  double b[K] = {};
  for (int r = c - 1; r >= 0; --r) {
    double sum = M[r][c];
    for (int q = r + 1; q < c; ++q) sum -= M[r][q] * b[q];
    b[r] = sum / M[r][r];
  }
  slope = b[1];
  return std::isfinite(slope);
}

void Refuse(AdmittanceResult& r, std::string message) {
  const double T = r.T, V = r.V;
  r = AdmittanceResult{};
  r.T = T;
  r.V = V;
  r.status = -1;
  r.message = std::move(message);
}

}  // namespace

double DiffusionVoltageAt(const AdmittanceSettings& s, double T) {
  if (s.vdFromRatio == 0) return s.Vd;
  return s.Ea + AsThermalEnergy(T) * std::log(s.ratio);
}

double EnergyOfFrequency(const AdmittanceSettings& s, double T, double omega) {
  const double kT = AsThermalEnergy(T);
  const double scale = T * T / (300.0 * 300.0);
  if (s.twoPrefactors == 0) return kT * std::log(2.0 * s.nu0 * scale / omega);
  const double nuA = s.nuA * scale, nuB = s.nuB * scale;
  // The switch between the two prefactors at the geometric mean of both.
  const bool deep = s.Es <= kT * std::log(2.0 * std::sqrt(nuA * nuB) / omega);
  return kT * std::log(2.0 * (deep ? nuB : nuA) / omega);
}

int afgeleide(std::span<const double> x, std::span<const double> y, int n, int window, int orderMid, int orderEdge,
              std::span<double> dy) {
  if (window < 2 || orderMid < 1 || orderEdge < 1 || orderMid >= window || orderEdge >= window ||
      orderMid > kMaxOrder || orderEdge > kMaxOrder || window > 64)
    return -2;
  if (n <= window || x.size() < static_cast<std::size_t>(n) || y.size() < static_cast<std::size_t>(n) ||
      dy.size() < static_cast<std::size_t>(n))
    return -1;
  const int half = window / 2;
  std::array<double, 64> t{}, v{};
  for (int i = 0; i < n; ++i) {
    int from = i - half, order = orderMid;
    if (i < half) {
      from = 0;
      order = orderEdge;
    } else if (i >= n - half) {
      from = n - window;
      order = orderEdge;
    }
    const double xi = x[static_cast<std::size_t>(i)];
    double span = 0.0;
    for (int k = 0; k < window; ++k) span = std::max(span, std::fabs(x[static_cast<std::size_t>(from + k)] - xi));
    double slope = 0.0;
    if (span > 0.0) {
      for (int k = 0; k < window; ++k) {
        t[static_cast<std::size_t>(k)] = (x[static_cast<std::size_t>(from + k)] - xi) / span;
        // Relative to the point's own value: a flat stretch then gives a slope of exactly 0.
        v[static_cast<std::size_t>(k)] = y[static_cast<std::size_t>(from + k)] - y[static_cast<std::size_t>(i)];
      }
      if (!SlopeAtOrigin(t.data(), v.data(), window, order, slope)) slope = 0.0;
    }
    dy[static_cast<std::size_t>(i)] = span > 0.0 ? slope / span : 0.0;
  }
  return 0;
}

int AnalyseAdmittance(const CfCurve& curve, const AdmittanceSettings& s, const MottSchottkySettings& ms,
                      AdmittanceResult& r) {
  r = AdmittanceResult{};
  r.T = curve.T;
  r.V = curve.V;
  const std::size_t n0 = std::min(curve.f.size(), curve.C.size());
  const bool withG = curve.G.size() >= n0 && n0 > 0;

  // The points that can be analysed, in ascending frequency.
  std::vector<std::size_t> order;
  order.reserve(n0);
  for (std::size_t i = 0; i < n0; ++i) {
    if (Positive(curve.f[i]) && Finite(curve.C[i]) && (!withG || Finite(curve.G[i])))
      order.push_back(i);
    else
      ++r.dropped;
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return curve.f[a] < curve.f[b]; });
  // Equal frequencies (a repeated point, or two sweeps joined): one point with the mean values.
  for (std::size_t k = 0; k < order.size();) {
    const double f = curve.f[order[k]];
    double sumC = 0.0, sumG = 0.0;
    std::size_t e = k;
    while (e < order.size() && curve.f[order[e]] - f <= 1e-9 * f) {
      sumC += curve.C[order[e]];
      if (withG) sumG += curve.G[order[e]];
      ++e;
    }
    const double count = static_cast<double>(e - k);
    r.f.push_back(f);
    r.C.push_back(sumC / count);
    if (withG) r.G.push_back(sumG / count);
    r.merged += static_cast<int>(e - k - 1);
    k = e;
  }
  const int n = static_cast<int>(r.f.size());

  // What the analysis needs, checked before anything is computed.
  const int m = ms.numberOfPoints;
  if (!Positive(curve.T)) {
    Refuse(r, "The temperature of the curve (" + fix(curve.T, 0, 2) + " K) must be positive.");
    return -1;
  }
  if (m < 2 || m > 64) {
    Refuse(r, "The derivative window (" + std::to_string(m) + " points) must hold 2 to 64 points.");
    return -1;
  }
  if (ms.orderMiddle < 1 || ms.orderEdges < 1 || ms.orderMiddle >= m || ms.orderEdges >= m ||
      ms.orderMiddle > kMaxOrder || ms.orderEdges > kMaxOrder) {
    Refuse(r, "The polynomial orders of the derivative (" + std::to_string(ms.orderMiddle) + " in the middle, " +
                  std::to_string(ms.orderEdges) + " at the edges) must lie between 1 and " +
                  std::to_string(std::min(m - 1, kMaxOrder)) + " for a window of " + std::to_string(m) + " points.");
    return -1;
  }
  if (n <= m) {
    Refuse(r, "The curve has " + std::to_string(n) + " points that can be analysed; the derivative needs more than " +
                  std::to_string(m) + " (its window).");
    return -1;
  }
  const bool prefactorsOk = s.twoPrefactors == 0 ? Positive(s.nu0) : Positive(s.nuA) && Positive(s.nuB);
  if (!prefactorsOk) {
    Refuse(r, "The attempt-to-escape frequency must be positive.");
    return -1;
  }
  if (!Positive(s.fref)) {
    Refuse(r, "The reference frequency for the depletion width (" + sci(s.fref, 0, 3) + " Hz) must be positive.");
    return -1;
  }
  if (s.vdFromRatio != 0 && !Positive(s.ratio)) {
    Refuse(r, "The ratio that gives the diffusion voltage must be positive.");
    return -1;
  }
  const double epsR = ms.spareReal;
  if (!Positive(epsR)) {
    Refuse(r, "The relative permittivity of the analysis must be positive.");
    return -1;
  }
  const double Vd = DiffusionVoltageAt(s, curve.T);
  if (!Finite(Vd) || !Finite(s.Eoff) || (s.twoPrefactors != 0 && !Finite(s.Es))) {
    Refuse(r, "The diffusion voltage and the energies of the analysis must be finite numbers.");
    return -1;
  }

  // The depletion width from C at f_ref, linear in ln f between the points around it.
  double Cref = r.C.front();
  if (s.fref >= r.f.back()) {
    Cref = r.C.back();
  } else if (s.fref > r.f.front()) {
    int k = 1;
    while (r.f[static_cast<std::size_t>(k)] < s.fref) ++k;
    const auto hi = static_cast<std::size_t>(k), lo = hi - 1;
    const double w = std::log(s.fref / r.f[lo]) / std::log(r.f[hi] / r.f[lo]);
    Cref = r.C[lo] + w * (r.C[hi] - r.C[lo]);
  }
  if (!Positive(Cref)) {
    Refuse(r, "The capacitance at the reference frequency of " + sci(s.fref, 0, 3) + " Hz (" + sci(Cref, 0, 4) +
                  " nF/cm2) is not positive: no depletion width.");
    return -1;
  }
  const double W = epsR * kEps0 / (Cref * 1e-5);  // [m]
  r.W = W * 100.0;
  r.kT = AsThermalEnergy(curve.T);
  r.Vd = Vd;

  const auto N = static_cast<std::size_t>(n);
  std::vector<double> lnw(N);
  r.Et.resize(N);
  r.minusD.resize(N);
  r.Nt.resize(N);
  for (std::size_t i = 0; i < N; ++i) {
    const double omega = kTwoPi * r.f[i];
    lnw[i] = std::log(omega);
    r.Et[i] = EnergyOfFrequency(s, curve.T, omega);
  }
  std::vector<double> D(N);
  afgeleide(lnw, r.C, n, m, ms.orderMiddle, ms.orderEdges, D);

  const double kT = r.kT;
  const double band = Vd - curve.V;  // band bending at the bias [V]
  for (std::size_t i = 0; i < N; ++i) {
    const double Dsi = D[i] * 1e-5 / kT;  // [F/m² per eV]
    const double depth = r.Et[i] + Vd - s.Eoff;
    double Nt = 0.0;
    bool inDomain = true;
    switch (s.formula) {
      case kNtFormula0:
        inDomain = band > 0.0;
        if (inDomain) Nt = -band * Dsi / (W * kQ) * 1e-6;
        break;
      case kNtFormula1:
        inDomain = band > 0.0 && depth > 0.0;
        if (inDomain) Nt = -band * band * Dsi / (W * kQ * depth) * 1e-6;
        break;
      case kNtFormula2:
        inDomain = band > 0.0 && depth > 0.0;
        if (inDomain) Nt = -2.0 * std::pow(band, 1.5) * Dsi / (W * kQ * std::sqrt(depth)) * 1e-6;
        break;
      default:
        Nt = -D[i];
        break;
    }
    if (!inDomain || !Finite(Nt)) {
      Nt = 0.0;
      ++r.outOfDomain;
    }
    r.minusD[i] = Finite(D[i]) ? -D[i] : 0.0;
    r.Nt[i] = Nt;
  }
  r.analysed = 1;
  r.status = 0;
  CalculateAS(r, s);
  return 0;
}

int Calculate_AS_single(SimulationRecord& record, const AdmittanceSettings& s, const MottSchottkySettings& ms) {
  CfResult& cf = record.cf;
  AdmittanceResult& r = cf.as;
  if (cf.present == 0) {
    r = AdmittanceResult{};
    r.status = -1;
    r.message = "The simulation holds no C-f curve.";
    return -1;
  }
  const int done = std::max(0, std::min(cf.pointsDone, cf.points));
  const auto need = static_cast<std::size_t>(done);
  if (cf.f.size() < need || cf.C.size() < need) {
    r = AdmittanceResult{};
    r.status = -1;
    r.message = "The C-f curve holds fewer values than points calculated.";
    return -2;
  }
  CfCurve curve;
  curve.f = std::span<const double>(cf.f.data(), need);
  curve.C = std::span<const double>(cf.C.data(), need);
  if (cf.G.size() >= need) curve.G = std::span<const double>(cf.G.data(), need);
  curve.T = record.wp.temperature;
  curve.V = cf.biasVoltage;
  return AnalyseAdmittance(curve, s, ms, r) == 0 ? 0 : -1;
}

// Tells the user why a curve was not analysed, or at how many points its Nt formula did not
// apply; true when the curve was analysed.
static bool ReportAnalysis(int result, const AdmittanceResult& r, const std::string& which, const Environment* env) {
  const bool canTell = env && env->ui && env->errors;
  if (result != 0) {
    if (canTell) env->Error(kTitle, which + " not analysed: " + r.message);
    return false;
  }
  if (r.outOfDomain > 0 && canTell)
    env->Error(kTitle, which + ": at " + std::to_string(r.outOfDomain) + " of " + std::to_string(r.f.size()) +
                           " points the Nt formula does not apply (bias at or above the diffusion voltage, or "
                           "E_omega + V_d - E_off <= 0); their Nt is set to 0.");
  return true;
}

int Calculate_AS(std::list<SimulationRecord>& records, const AdmittanceSettings& s, const MottSchottkySettings& ms,
                 const Environment* env) {
  int analysed = 0;
  for (SimulationRecord& rec : records) {
    if (rec.cf.present == 0) continue;
    const int result = Calculate_AS_single(rec, s, ms);
    const AdmittanceResult& r = rec.cf.as;
    const std::string which = "C-f curve of simulation #" + std::to_string(rec.number);
    if (ReportAnalysis(result, r, which, env)) ++analysed;
  }
  return analysed;
}

int Calculate_AS_measured(MeasurementItem& m, const AdmittanceSettings& s, const MottSchottkySettings& ms,
                          AdmittanceResult& r) {
  CfMeasurement* d = m.kind == kMeasurementCf ? std::get_if<CfMeasurement>(&m.data) : nullptr;
  if (!d) {
    r = AdmittanceResult{};
    r.status = -1;
    r.message = "The measurement holds no C-f curve.";
    return -1;
  }
  const std::size_t n = std::min(d->f.size(), d->C.size());
  CfCurve curve;
  curve.f = std::span<const double>(d->f.data(), n);
  curve.C = std::span<const double>(d->C.data(), n);
  if (d->G.size() >= n) curve.G = std::span<const double>(d->G.data(), n);
  curve.T = m.temperature;
  curve.V = d->bias;
  const int result = AnalyseAdmittance(curve, s, ms, r);
  if (result != 0) {
    d->Et.clear();
    d->Nt.clear();
    d->derivative.clear();
    return -1;
  }
  d->Et = r.Et;
  d->Nt = r.Nt;
  d->derivative = r.minusD;
  return 0;
}

int Calculate_AS_measurements(MeasurementState& measurements, const AdmittanceSettings& s,
                              const MottSchottkySettings& ms, const Environment* env) {
  int analysed = 0;
  for (MeasurementItem& m : measurements.measurements[kMeasurementCf]) {
    AdmittanceResult r;
    const int result = Calculate_AS_measured(m, s, ms, r);
    const std::string which = "Measured C-f curve " + m.fileName;
    if (ReportAnalysis(result, r, which, env)) ++analysed;
  }
  return analysed;
}

void CalculateAS(AdmittanceResult& r, const AdmittanceSettings& s) {
  const std::size_t n = r.f.size();
  r.x.assign(n, 0.0);
  r.y.assign(n, 0.0);
  if (r.Et.size() < n || r.Nt.size() < n || r.minusD.size() < n) return;
  for (std::size_t i = 0; i < n; ++i) {
    r.x[i] = s.abscissa == kAsAbscissaF ? r.f[i] : s.abscissa == kAsAbscissaOmega ? kTwoPi * r.f[i] : r.Et[i];
    switch (s.ordinate) {
      case kAsOrdinateMinusD:
        r.y[i] = r.minusD[i];
        break;
      case kAsOrdinateC:
        r.y[i] = r.C[i];
        break;
      case kAsOrdinateScaled:
        r.y[i] = r.W > 0.0 && r.kT > 0.0 ? r.minusD[i] / (r.W * r.kT) : 0.0;
        break;
      default:
        r.y[i] = r.Nt[i];
        break;
    }
  }
}

const char* ASAbscissaTitle(int abscissa) {
  switch (abscissa) {
    case kAsAbscissaF:
      return "f (Hz)";
    case kAsAbscissaOmega:
      return "w (1/s)";
    default:
      return "Et (eV)";
  }
}

const char* ASOrdinateTitle(int ordinate) {
  switch (ordinate) {
    case kAsOrdinateMinusD:
      return "-w*dC/dw (nF/cm\xB2)";
    case kAsOrdinateC:
      return "C (nF/cm\xB2)";
    case kAsOrdinateScaled:
      return "-w/kT*dC/dw/W (nF/cm\xB3/eV)";
    default:
      return "Nt (cm^-3/eV)";
  }
}

int ASDataFromCellDefinition(const InputParameters& set1, int layer, int defect, int level, int side,
                             AdmittanceSettings& s, std::string& message) {
  const CellDefinition& cell = set1.cellParas;
  const int other = layer + (side < 0 ? -1 : 1);
  if (layer < 0 || layer >= std::min(cell.numberOfLayers, MAXLAYERS)) {
    message = "Layer " + std::to_string(layer + 1) + " does not exist.";
    return -1;
  }
  if (side == 0 || other < 0 || other >= std::min(cell.numberOfLayers, MAXLAYERS)) {
    message =
        "Layer " + std::to_string(layer + 1) + " has no neighbour on its " + (side < 0 ? "left" : "right") + " side.";
    return -1;
  }
  const LayerParameters& L = cell.layer[static_cast<std::size_t>(layer)];
  const LayerParameters& M = cell.layer[static_cast<std::size_t>(other)];
  if (defect < 0 || defect >= std::min(L.srhteller, MAXBULKDEFECTS) || level < 0 ||
      level >= std::min(L.srh[static_cast<std::size_t>(defect)][0].numberOfLevels, MAXLEVELS)) {
    message = "Layer " + std::to_string(layer + 1) + " has no defect " + std::to_string(defect + 1) + " with a level " +
              std::to_string(level + 1) + ".";
    return -1;
  }
  // The edges that meet at the junction: p[5] is a layer's left edge, p[6] its right edge.
  const std::size_t here = side < 0 ? 5 : 6, there = side < 0 ? 6 : 5;
  const double Eg = L.Eg.p[here], chi = L.chi.p[here], NC = L.Nc.p[here], NV = L.Nv.p[here];
  const double net = L.Nd.p[here] - L.Na.p[here];  // > 0: n-type
  const double EgM = M.Eg.p[there], chiM = M.chi.p[there], NCM = M.Nc.p[there], NVM = M.Nv.p[there];
  const double netM = M.Nd.p[there] - M.Na.p[there];
  if (!(net * netM < 0.0) || !Positive(NC) || !Positive(NV) || !Positive(NCM) || !Positive(NVM)) {
    message = "No pn junction between layers " + std::to_string(layer + 1) + " and " + std::to_string(other + 1) + ".";
    return -1;
  }
  constexpr double kT = 0.0259;
  const BulkRecombinationParameters& t = L.srh[static_cast<std::size_t>(defect)][static_cast<std::size_t>(level)];
  const double aboveEV = t.reference == 0 ? t.Et : t.reference == 1 ? 0.5 * Eg + t.Et : Eg - t.Et;
  const bool holeTrap = aboveEV < 0.5 * Eg;
  // The Fermi level above EV in the neutral layer.
  const double EFaboveEV = net < 0.0 ? kT * std::log(NV / -net) : Eg - kT * std::log(NC / net);
  double Ea = 0.0, ratio = 1.0;
  if (net < 0.0) {  // this layer is the p side
    Ea = chi + Eg - chiM;
    ratio = -net * netM / (NV * NCM);
  } else {
    Ea = chiM + EgM - chi;
    ratio = net * -netM / (NVM * NC);
  }
  s.nu0 = holeTrap ? t.sigma_p * L.v_th_p.p[here] * NV : t.sigma_n * L.v_th_n.p[here] * NC;
  s.vdFromRatio = 1;
  s.Ea = Ea;
  s.ratio = ratio;
  s.Vd = Ea + kT * std::log(ratio);
  s.Eoff = (holeTrap ? EFaboveEV : Eg - EFaboveEV) + s.Vd;
  return 0;
}

int AdmittancePeak(const AdmittanceResult& r, double& fPeak, double& EPeak) {
  const std::size_t n = std::min({r.f.size(), r.minusD.size(), r.Et.size()});
  if (n < 3) return -1;
  const auto k = static_cast<std::size_t>(std::max_element(r.minusD.begin(), r.minusD.begin() + n) - r.minusD.begin());
  if (k == 0 || k + 1 >= n) return -1;
  // Vertex of the parabola through the three points in u = ln f.
  const double u0 = std::log(r.f[k - 1]), u1 = std::log(r.f[k]), u2 = std::log(r.f[k + 1]);
  const double y0 = r.minusD[k - 1], y1 = r.minusD[k], y2 = r.minusD[k + 1];
  const double d01 = (y1 - y0) / (u1 - u0), d12 = (y2 - y1) / (u2 - u1);
  const double curvature = (d12 - d01) / (u2 - u0);
  double u = u1;
  if (curvature < 0.0) u = std::clamp(0.5 * (u0 + u1) - d01 / (2.0 * curvature), u0, u2);
  fPeak = std::exp(u);
  // E_ω is linear in ln ω between neighbouring points.
  const std::size_t a = u <= u1 ? k - 1 : k;
  const double ua = std::log(r.f[a]), ub = std::log(r.f[a + 1]);
  EPeak = r.Et[a] + (u - ua) / (ub - ua) * (r.Et[a + 1] - r.Et[a]);
  return static_cast<int>(k);
}

int ArrheniusFit(std::span<const double> T, std::span<const double> omega, double& Ea, double& nu0) {
  const std::size_t n = std::min(T.size(), omega.size());
  double sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
  int count = 0;
  double xmin = HUGE_VAL, xmax = -HUGE_VAL;
  for (std::size_t i = 0; i < n; ++i) {
    if (!Positive(T[i]) || !Positive(omega[i])) continue;
    const double x = 1.0 / AsThermalEnergy(T[i]);
    const double y = std::log(omega[i] / (T[i] * T[i]));
    sx += x;
    sy += y;
    sxx += x * x;
    sxy += x * y;
    xmin = std::min(xmin, x);
    xmax = std::max(xmax, x);
    ++count;
  }
  if (count < 2 || !(xmax > xmin)) return -1;
  const double c = static_cast<double>(count);
  const double slope = (c * sxy - sx * sy) / (c * sxx - sx * sx);
  const double intercept = (sy - slope * sx) / c;
  Ea = -slope;
  nu0 = std::exp(intercept) * 300.0 * 300.0 / 2.0;
  return 0;
}

}  // namespace zoniq
