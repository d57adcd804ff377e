#include "plot/figure_model.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iterator>
#include <span>
#include <variant>

#include "common/text.hpp"
#include "measure/admittance_analysis.hpp"
#include "output/generation_profiles.hpp"

namespace zoniq {

namespace {

// Strong, distinct colours that read well on white paper and in print.
constexpr std::array<RGBColour, kCurveColours> kCurvePalette = {0xD62728, 0x1F77B4, 0x2CA02C, 0xFF7F0E, 0x9467BD,
                                                                0x8C564B, 0xE377C2, 0x7F7F7F, 0xBCBD22, 0x17BECF,
                                                                0x000080, 0x800000, 0x006400, 0xC000C0, 0x000000};

// The texts of the panels that have nothing to show yet.
constexpr const char* kNoCalculation = "No calculation is made yet: nothing to save or to show !";
constexpr const char* kNoIV = "No IV-calculation is made yet: nothing to save or to show !";
constexpr const char* kNoCV = "No CV-calculation is made yet: nothing to save or to show !";
constexpr const char* kNoCf = "No C-f calculation is made yet: nothing to save or to show !";
constexpr const char* kNoQE = "No QE calculation is made yet: nothing to save or to show !";
constexpr const char* kNoAc = "No ac-calculation is made yet: nothing to save or to show !";
constexpr const char* kNoRecord = "No recorder results available";

enum PanelIndex { kEb, kAc, kGenrec, kIV, kCV, kCf, kQE, kGrading, kRecord, kAs };

bool Shown(double v, AxisScale scale) { return std::isfinite(v) && (scale == AxisScale::kLinear || v > 0.0); }

// A series of n points of two arrays (shorter arrays shorten it), each value passed through its
// transform; points that cannot be shown on the graph's axes (not finite, not positive on a
// log axis) are left out.
using Transform = std::function<double(double)>;
double Same(double v) { return v; }

PlotSeries MakeSeries(std::string name, RGBColour colour, LineStyle style, const std::vector<double>& x,
                      const std::vector<double>& y, int n, const PlotGraph& graph, const Transform& fx = Same,
                      const Transform& fy = Same) {
  PlotSeries s;
  s.name = std::move(name);
  s.colour = colour;
  s.style = style;
  const std::size_t count = std::min({static_cast<std::size_t>(std::max(n, 0)), x.size(), y.size()});
  s.x.reserve(count);
  s.y.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const double a = fx(x[i]), b = fy(y[i]);
    if (!Shown(a, graph.x.scale) || !Shown(b, graph.y.scale)) continue;
    s.x.push_back(a);
    s.y.push_back(b);
  }
  return s;
}

// Adds a series unless no point of it can be shown.
void Add(PlotGraph& g, PlotSeries s) {
  if (!s.x.empty()) g.series.push_back(std::move(s));
}

PlotGraph Graph(const char* keyword, std::string title, std::string xTitle, AxisScale xScale, std::string yTitle,
                AxisScale yScale) {
  PlotGraph g;
  g.keyword = keyword;
  g.title = std::move(title);
  g.x.title = std::move(xTitle);
  g.x.scale = xScale;
  g.y.title = std::move(yTitle);
  g.y.scale = yScale;
  return g;
}

constexpr AxisScale kLin = AxisScale::kLinear;
constexpr AxisScale kLog = AxisScale::kLog;

// The legend text of a simulation: its number, and for a batch or fit its step.
std::string RecordName(const SimulationRecord& r) {
  const std::string n = std::to_string(r.number);
  if (r.batch.numberOfParameters > 0 || r.batch.definitionFileBatch != 0)
    return "batch #" + n + " step " + std::to_string(r.batch.step) + "/" + std::to_string(r.batch.numberOfSteps);
  if (r.fit.numberOfParameters > 0) return "fit #" + n + " step " + std::to_string(r.fit.iteration + 1);
  return "simulation #" + n;
}

// Fills each graph of `graphs` from every record that holds a curve of the kind: `has` tells
// whether a record holds one, `fill` adds its series to graph k.
void FromRecords(std::vector<PlotGraph>& graphs, const PlotSources& src, const char* none,
                 const std::function<bool(const SimulationRecord&)>& has,
                 const std::function<void(std::size_t, PlotGraph&, const SimulationRecord&)>& fill) {
  bool any = false;
  if (src.records)
    for (const SimulationRecord& r : *src.records) {
      if (!has(r)) continue;
      any = true;
      for (std::size_t k = 0; k < graphs.size(); ++k) fill(k, graphs[k], r);
    }
  if (!any)
    for (PlotGraph& g : graphs) g.note = none;
}

// ---- band diagram, generation-recombination and grading: the current solution ----

// The occupation of every defect level with electrons along its layer; a defect with an energy
// distribution shows the occupation of the whole distribution (its sub-levels weighted by
// their share of the density).
void AddTrapOccupation(PlotGraph& g, const CalculationVariables& cv) {
  const CalculationParameters& par = *cv.par;
  int colour = 1;
  for (int l = 0; l < par.nlayers; ++l)
    for (const BulkDefectRecord& d : cv.rec.layer[static_cast<std::size_t>(l)])
      for (int k = 0; k < d.levels(); ++k) {
        std::vector<double> x, f;
        for (int j = 0; j < d.count; ++j) {
          const auto i = static_cast<std::size_t>(d.first + j);
          if (i >= cv.mesh.xum.size()) break;
          const double n = cv.pt.Nn[i] * cv.Eplus[i] * (cv.u0[i] + cv.u[i]);
          const double p = cv.pt.Np[i] * cv.Emin[i] * (cv.v0[i] + cv.v[i]);
          double occupied = 0.0;
          for (int e = 0; e < d.axis.count; ++e) {
            const std::array<double, MAXDEFECTSTATES> states = DefectStateFractions(d, e, j, n, p);
            const auto ee = static_cast<std::size_t>(e);
            const double share = d.axis.count == 1 ? 1.0 : d.axis.weight[ee] * d.axis.quadrature[ee];
            occupied += share * states[static_cast<std::size_t>(k + 1)];
          }
          x.push_back(cv.mesh.xum[i]);
          f.push_back(occupied);
        }
        const std::string name =
            "f_t " + std::to_string(l + 1) + "," + std::to_string(d.input.defect + 1) + "," + std::to_string(k + 1);
        Add(g, MakeSeries(name, CurveColour(colour++), LineStyle::kSolid, x, f, static_cast<int>(x.size()), g));
      }
  if (g.series.empty()) g.note = "No bulk defects in this cell";
}

// The profiles describe the last solved working point: its bias goes into the titles.
void AddBias(PlotPanel& p, const BandDiagramProfiles& b) {
  char bias[48];
  std::snprintf(bias, sizeof bias, " at %.4f V", b.V);
  for (PlotGraph& g : p.graphs) g.title += bias;
}

void BuildBandPanel(PlotPanel& p, const PlotSources& src) {
  p.graphs.push_back(Graph("energybands", "Band diagram", "x (\u00B5m)", kLin, "E (eV)", kLin));
  p.graphs.push_back(Graph("carrierdensities", "Carrier densities", "x (\u00B5m)", kLin, "n, p (/cm3)", kLog));
  p.graphs.push_back(Graph("currents", "Current densities", "x (\u00B5m)", kLin, "j (mA/cm2)", kLin));
  p.graphs.push_back(Graph("ftraps", "Occupation of the defect levels", "x (\u00B5m)", kLin, "f_t (electrons)", kLin));
  if (!src.bands || !src.solution) {
    for (PlotGraph& g : p.graphs) g.note = kNoCalculation;
    return;
  }
  const BandDiagramProfiles& b = *src.bands;
  AddBias(p, b);
  PlotGraph& e = p.graphs[0];
  Add(e, MakeSeries("EC", 0x1F77B4, LineStyle::kSolid, b.x, b.Ec, b.N, e));
  Add(e, MakeSeries("EV", 0x2CA02C, LineStyle::kSolid, b.x, b.Ev, b.N, e));
  Add(e, MakeSeries("Fn", 0xD62728, LineStyle::kDashed, b.x, b.Fn, b.N, e));
  Add(e, MakeSeries("Fp", 0x9467BD, LineStyle::kDashed, b.x, b.Fp, b.N, e));
  PlotGraph& d = p.graphs[1];
  Add(d, MakeSeries("n", 0x1F77B4, LineStyle::kSolid, b.x, b.n, b.N, d));
  Add(d, MakeSeries("p", 0xD62728, LineStyle::kSolid, b.x, b.p, b.N, d));
  PlotGraph& j = p.graphs[2];
  Add(j, MakeSeries("jn", 0x1F77B4, LineStyle::kSolid, b.x, b.jn, b.N, j));
  Add(j, MakeSeries("jp", 0xD62728, LineStyle::kSolid, b.x, b.jp, b.N, j));
  auto nonZero = [](const std::vector<double>& v) {
    return std::any_of(v.begin(), v.end(), [](double a) { return a != 0.0; });
  };
  // Tunnel currents only where the cell has tunnelling.
  if (nonZero(b.jnTunnel)) Add(j, MakeSeries("jn_tunnel", 0x17BECF, LineStyle::kDashed, b.x, b.jnTunnel, b.N, j));
  if (nonZero(b.jpTunnel)) Add(j, MakeSeries("jp_tunnel", 0xE377C2, LineStyle::kDashed, b.x, b.jpTunnel, b.N, j));
  Add(j, MakeSeries("jtot", 0x000000, LineStyle::kSolid, b.x, b.jtot, b.N, j));
  AddTrapOccupation(p.graphs[3], *src.solution);
}

void BuildGenrecPanel(PlotPanel& p, const PlotSources& src) {
  p.graphs.push_back(Graph("genrec", "Generation and recombination", "x (\u00B5m)", kLin, "G, R (#/cm3.s)", kLog));
  p.graphs.push_back(Graph("ftraps", "Occupation of the defect levels", "x (\u00B5m)", kLin, "f_t (electrons)", kLin));
  if (!src.bands || !src.solution) {
    for (PlotGraph& g : p.graphs) g.note = kNoCalculation;
    return;
  }
  const BandDiagramProfiles& b = *src.bands;
  AddBias(p, b);
  PlotGraph& g = p.graphs[0];
  Add(g, MakeSeries("generation", 0x2CA02C, LineStyle::kSolid, b.x, b.G, b.N, g));
  // The net recombination rate changes sign where the defects generate; a logarithmic axis
  // shows where it recombines.
  Add(g, MakeSeries("recombination", 0xD62728, LineStyle::kSolid, b.x, b.R, b.N, g));
  if (g.series.empty()) g.note = "No generation or recombination (in the dark at equilibrium)";
  AddTrapOccupation(p.graphs[1], *src.solution);
}

void BuildGradingPanel(PlotPanel& p, const PlotSources& src) {
  p.graphs.push_back(Graph("grading", "Graded properties", "x (\u00B5m)", kLin, "Eg, chi (eV)", kLin));
  PlotGraph& g = p.graphs[0];
  if (!src.solution) {
    g.note = kNoCalculation;
    return;
  }
  const CalculationVariables& cv = *src.solution;
  const int n = cv.mesh.N;
  Add(g, MakeSeries("Eg", 0xD62728, LineStyle::kSolid, cv.mesh.xum, cv.pt.Eg, n, g));
  Add(g, MakeSeries("chi", 0x1F77B4, LineStyle::kSolid, cv.mesh.xum, cv.pt.chi, n, g));
}

// ---- the curves of the records ----

void BuildIVPanel(PlotPanel& p, const PlotSources& src) {
  p.graphs.push_back(src.logCurrent ? Graph("iv", "I-V", "V (V)", kLin, "|J| (mA/cm2)", kLog)
                                    : Graph("iv", "I-V", "V (V)", kLin, "J (mA/cm2)", kLin));
  p.graphs.push_back(Graph("recombination", "Recombination currents", "V (V)", kLin, "j (mA/cm2)", kLog));
  const Transform magnitude = src.logCurrent ? Transform([](double v) { return std::fabs(v); }) : Transform(Same);
  FromRecords(
      p.graphs, src, kNoIV, [](const SimulationRecord& r) { return r.iv.present != 0; },
      [&](std::size_t k, PlotGraph& g, const SimulationRecord& r) {
        const IVResult& iv = r.iv;
        const RGBColour c = CurveColour(iv.colour);
        const std::string name = RecordName(r);
        if (k == 0) {
          Add(g, MakeSeries(name, c, LineStyle::kSolid, iv.v, iv.j, iv.pointsDone, g, Same, magnitude));
          return;
        }
        Add(g, MakeSeries(name + " SRH", c, LineStyle::kSolid, iv.v, iv.jSRH, iv.pointsDone, g));
        Add(g, MakeSeries(name + " radiative", c, LineStyle::kDashed, iv.v, iv.jRadiative, iv.pointsDone, g));
        Add(g, MakeSeries(name + " Auger", c, LineStyle::kDotted, iv.v, iv.jAuger, iv.pointsDone, g));
        Add(g, MakeSeries(name + " interface", c, LineStyle::kDashDotted, iv.v, iv.jifr, iv.pointsDone, g));
      });
  PlotGraph& rec = p.graphs[1];
  if (rec.series.empty() && rec.note.empty()) rec.note = "No positive recombination current to show";
}

void BuildCVPanel(PlotPanel& p, const PlotSources& src) {
  p.graphs.push_back(Graph("cv", "C-V", "V (V)", kLin, "C (nF/cm2)", kLin));
  p.graphs.push_back(Graph("gv", "G-V", "V (V)", kLin, "G (S/cm2)", kLin));
  p.graphs.push_back(Graph("Mott-Schottky", "Mott-Schottky", "V (V)", kLin, "1/C2 (cm4/nF2)", kLin));
  p.graphs.push_back(Graph("dopingprofile", "Apparent doping profile", "W (\u00B5m)", kLin, "Napp (/cm3)", kLog));
  FromRecords(
      p.graphs, src, kNoCV, [](const SimulationRecord& r) { return r.cv.present != 0; },
      [](std::size_t k, PlotGraph& g, const SimulationRecord& r) {
        const CVResult& cv = r.cv;
        const RGBColour c = CurveColour(cv.colour);
        const std::string name = RecordName(r);
        const int n = cv.pointsDone;
        if (k == 0) Add(g, MakeSeries(name, c, LineStyle::kSolid, cv.v, cv.C, n, g));
        if (k == 1) Add(g, MakeSeries(name, c, LineStyle::kSolid, cv.v, cv.G, n, g));
        if (k == 2)
          Add(g,
              MakeSeries(name, c, LineStyle::kSolid, cv.v, cv.C, n, g, Same, [](double C) { return 1.0 / (C * C); }));
        // W and Napp exist for curves of more than 3 points.
        if (k == 3 && n > 3) Add(g, MakeSeries(name, c, LineStyle::kSolid, cv.W, cv.Napp, n, g));
      });
  PlotGraph& doping = p.graphs[3];
  if (doping.series.empty() && doping.note.empty()) doping.note = "W and Napp need C-V curves of more than 3 points";
}

void BuildCfPanel(PlotPanel& p, const PlotSources& src) {
  p.graphs.push_back(Graph("cf", "C-f", "f (Hz)", kLog, "C (nF/cm2)", kLin));
  p.graphs.push_back(Graph("gf", "G-f", "f (Hz)", kLog, "G (S/cm2)", kLin));
  p.graphs.push_back(Graph("Nyquist", "Nyquist", "Z.re (ohm.cm2)", kLin, "-Z.im (ohm.cm2)", kLin));
  p.graphs[2].equalAxes = true;
  p.graphs.push_back(Graph("G(f)/f-f", "G/f against f", "f (Hz)", kLog, "G/f (S/cm2/Hz)", kLin));
  FromRecords(
      p.graphs, src, kNoCf, [](const SimulationRecord& r) { return r.cf.present != 0; },
      [](std::size_t k, PlotGraph& g, const SimulationRecord& r) {
        const CfResult& cf = r.cf;
        const RGBColour c = CurveColour(cf.colour);
        const std::string name = RecordName(r);
        const int n = cf.pointsDone;
        if (k == 0) Add(g, MakeSeries(name, c, LineStyle::kSolid, cf.f, cf.C, n, g));
        if (k == 1) Add(g, MakeSeries(name, c, LineStyle::kSolid, cf.f, cf.G, n, g));
        if (k == 2)
          Add(g, MakeSeries(name, c, LineStyle::kSolid, cf.Zre, cf.Zim, n, g, Same, [](double v) { return -v; }));
        if (k == 3) {
          std::vector<double> gOverF(cf.G.size());
          for (std::size_t i = 0; i < gOverF.size() && i < cf.f.size(); ++i) gOverF[i] = cf.G[i] / cf.f[i];
          Add(g, MakeSeries(name, c, LineStyle::kSolid, cf.f, gOverF, n, g));
        }
      });
}

// The analysis's axis titles carry Latin-1 unit bytes (as its file writes them); graph titles
// are UTF-8.
std::string Utf8Title(const char* latin1) {
  std::string t;
  for (const char* c = latin1; *c; ++c) {
    const auto b = static_cast<unsigned char>(*c);
    if (b < 0x80) {
      t += *c;
    } else {
      t += static_cast<char>(0xC0 | (b >> 6));
      t += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return t;
}

// The admittance-spectroscopy analysis of every C-f curve against the chosen abscissa: the
// simulated curves as analysed (solid), the measured ones analysed here with the same settings
// (dashed).
void BuildAsPanel(PlotPanel& p, const PlotSources& src) {
  const AdmittanceSettings defaults;
  const AdmittanceSettings& s = src.admittance ? *src.admittance : defaults;
  const AxisScale xScale = s.abscissa == kAsAbscissaEt ? kLin : kLog;
  p.graphs.push_back(Graph("as", "Admittance spectroscopy", Utf8Title(ASAbscissaTitle(s.abscissa)), xScale,
                           Utf8Title(ASOrdinateTitle(s.ordinate)), kLin));
  PlotGraph& g = p.graphs.front();
  bool anyCurve = false;
  if (src.records)
    for (const SimulationRecord& r : *src.records) {
      if (r.cf.present == 0) continue;
      anyCurve = true;
      const AdmittanceResult& as = r.cf.as;
      if (as.analysed == 0) continue;
      Add(g, MakeSeries(RecordName(r), CurveColour(r.cf.colour), LineStyle::kSolid, as.x, as.y,
                        static_cast<int>(as.x.size()), g));
    }
  if (src.measurements && src.mottSchottky) {
    int colour = 1;
    for (const MeasurementItem& m : src.measurements->measurements[kMeasurementCf]) {
      const auto* d = std::get_if<CfMeasurement>(&m.data);
      if (!d) continue;
      anyCurve = true;
      const std::size_t n = std::min(d->f.size(), d->C.size());
      CfCurve curve{
          std::span<const double>(d->f.data(), n), std::span<const double>(d->C.data(), n), {}, m.temperature, d->bias};
      AdmittanceResult r;
      if (AnalyseAdmittance(curve, s, *src.mottSchottky, r) != 0) continue;
      const std::string name = "meas. " + std::filesystem::path(m.fileName).filename().string();
      Add(g, MakeSeries(name, CurveColour(colour++), LineStyle::kDashed, r.x, r.y, static_cast<int>(r.x.size()), g));
    }
  }
  if (!anyCurve)
    g.note = kNoCf;
  else if (g.series.empty())
    g.note = "No C-f curve could be analysed: nothing to save or to show !";
}

void BuildQEPanel(PlotPanel& p, const PlotSources& src) {
  p.graphs.push_back(Graph("qe", "Quantum efficiency", "lambda (nm)", kLin, "QE (%)", kLin));
  FromRecords(
      p.graphs, src, kNoQE, [](const SimulationRecord& r) { return r.qe.present != 0; },
      [](std::size_t, PlotGraph& g, const SimulationRecord& r) {
        Add(g, MakeSeries(RecordName(r), CurveColour(r.qe.colour), LineStyle::kSolid, r.qe.lambda, r.qe.QE,
                          r.qe.pointsDone, g));
      });
}

// The small-signal profiles of the last ac solution (per kT/q applied, as in the ac file):
// amplitude and phase of the electron, hole, displacement and total currents and of the potential
// and the quasi-Fermi levels.
void BuildAcPanel(PlotPanel& p, const PlotSources& src) {
  p.graphs.push_back(Graph("currents.amplitude", "ac currents: amplitude", "x (\u00B5m)", kLin, "|j| (mA/cm2)", kLin));
  p.graphs.push_back(Graph("currents.phase", "ac currents: phase", "x (\u00B5m)", kLin, "phase (\u00B0)", kLin));
  p.graphs.push_back(
      Graph("potentials.amplitude", "ac potentials: amplitude", "x (\u00B5m)", kLin, "|psi| (kT/q)", kLin));
  p.graphs.push_back(Graph("potentials.phase", "ac potentials: phase", "x (\u00B5m)", kLin, "phase (\u00B0)", kLin));
  const AcSolution* ac = src.ac;
  const CalculationVariables* cv = src.solution;
  if (!ac || !cv || static_cast<int>(ac->dpsi.size()) != cv->mesh.N) {
    for (PlotGraph& g : p.graphs) g.note = kNoAc;
    return;
  }
  const std::size_t n = ac->dpsi.size();
  const double scale = 0.1 * (cv->par ? cv->par->Vt : 1.0);
  auto curves = [&](PlotGraph& amplitude, PlotGraph& phase, const char* const* names,
                    std::initializer_list<const std::vector<Complex>*> values, double factor) {
    int colour = 1;
    std::size_t k = 0;
    for (const std::vector<Complex>* v : values) {
      std::vector<double> a(n), ph(n);
      for (std::size_t i = 0; i < n; ++i) {
        a[i] = factor * std::abs((*v)[i]);
        ph[i] = std::arg((*v)[i]) * 57.29577951308232;
      }
      Add(amplitude, MakeSeries(names[k], CurveColour(colour), LineStyle::kSolid, cv->mesh.xum, a, static_cast<int>(n),
                                amplitude));
      Add(phase,
          MakeSeries(names[k], CurveColour(colour), LineStyle::kSolid, cv->mesh.xum, ph, static_cast<int>(n), phase));
      ++colour;
      ++k;
    }
  };
  static const char* const kCurrents[] = {"jn", "jp", "jdispl", "jtot"};
  static const char* const kPotentials[] = {"psi", "Fn", "Fp"};
  curves(p.graphs[0], p.graphs[1], kCurrents, {&ac->jn, &ac->jp, &ac->jd, &ac->jtot}, scale);
  curves(p.graphs[2], p.graphs[3], kPotentials, {&ac->dpsi, &ac->dphin, &ac->dphip}, 1.0);
}

// Every recorded quantity against the batch step, one colour each.
void BuildRecordPanel(PlotPanel& p, const PlotSources& sources) {
  p.graphs.push_back(Graph("result", "Recorded results", "batch simulation no.", kLin, "result", kLin));
  PlotGraph& g = p.graphs[0];
  const RecordedResults* r = sources.recorded;
  if (r)
    for (std::size_t k = 0; k < r->names.size() && k < r->values.size(); ++k)
      Add(g, MakeSeries(r->names[k], CurveColour(static_cast<int>(k) + 1), LineStyle::kSolid, r->steps, r->values[k],
                        static_cast<int>(r->steps.size()), g));
  if (g.series.empty()) g.note = kNoRecord;
}

}  // namespace

RGBColour CurveColour(int colourIndex) {
  const int k = ((colourIndex - 1) % kCurveColours + kCurveColours) % kCurveColours;
  return kCurvePalette[static_cast<std::size_t>(k)];
}

const std::vector<PanelNames>& PanelTable() {
  static const std::vector<PanelNames> kTable = {
      {"eb", {"energybands", "carrierdensities", "currents", "ftraps"}},
      {"ac", {"currents.amplitude", "currents.phase", "potentials.amplitude", "potentials.phase"}},
      {"genrec", {"genrec", "ftraps"}},
      {"iv", {"iv", "recombination"}},
      {"cv", {"cv", "gv", "Mott-Schottky", "dopingprofile"}},
      {"cf", {"cf", "gf", "Nyquist", "G(f)/f-f"}},
      {"qe", {"qe"}},
      {"grading", {"grading"}},
      {"record", {"result"}},
      {"as", {"as"}},
  };
  return kTable;
}

std::optional<GraphSelection> SelectGraphs(std::string_view panelWord, std::string_view graphWord,
                                           std::string_view partWord) {
  const std::vector<PanelNames>& table = PanelTable();
  GraphSelection sel;
  for (std::size_t i = 0; i < table.size(); ++i)
    if (StartsWithNoCase(panelWord, table[i].keyword)) {
      sel.panel = static_cast<int>(i);
      break;
    }
  if (sel.panel < 0) return std::nullopt;
  const PanelNames& panel = table[static_cast<std::size_t>(sel.panel)];
  const int count = static_cast<int>(panel.graphs.size());
  if (StartsWithNoCase(graphWord, "whole")) {
    if (!partWord.empty()) return std::nullopt;
    for (int k = 0; k < count; ++k) sel.graphs.push_back(k);
    return sel;
  }
  if (sel.panel == kAc) {
    // "currents" or "potentials", then "amplitude", "phase" or nothing (both).
    for (const char* group : {"currents", "potentials"}) {
      if (!StartsWithNoCase(graphWord, group)) continue;
      const int first = std::string_view(group) == "currents" ? 0 : 2;
      if (partWord.empty()) {
        sel.graphs = {first, first + 1};
        return sel;
      }
      if (StartsWithNoCase(partWord, "amplitude")) sel.graphs = {first};
      if (StartsWithNoCase(partWord, "phase")) sel.graphs = {first + 1};
      if (sel.graphs.empty()) return std::nullopt;
      return sel;
    }
    return std::nullopt;
  }
  if (!partWord.empty()) return std::nullopt;
  for (int k = 0; k < count; ++k)
    if (StartsWithNoCase(graphWord, panel.graphs[static_cast<std::size_t>(k)])) {
      sel.graphs.push_back(k);
      return sel;
    }
  return std::nullopt;
}

PlotSources SourcesFromSimulation(const SimulationState& s, BandDiagramProfiles& bands) {
  PlotSources src;
  src.records = &s.simulaties;
  src.admittance = &s.admittanceSettings;
  // The current solution exists once a simulation has run and its mesh is set up.
  if (s.CurrentRecord() && s.currentCalcVars.par && s.currentCalcVars.mesh.N > 1) {
    const int side = s.wp.illuminatedFromRight ? 1 : -1;
    BandDiagramFromSolution(s.currentCalcVars, side, bands);
    src.solution = &s.currentCalcVars;
    src.bands = &bands;
    if (s.acValid) src.ac = &s.ac;
  }
  return src;
}

PlotPanel BuildPanel(int panel, const PlotSources& sources) {
  PlotPanel p;
  if (panel < 0 || panel >= static_cast<int>(PanelTable().size())) return p;
  p.keyword = PanelTable()[static_cast<std::size_t>(panel)].keyword;
  static constexpr const char* kTitles[] = {
      "Energy bands", "ac solution", "Generation and recombination", "I-V", "C-V", "C-f", "Quantum efficiency",
      "Grading",      "Recorder",    "Admittance spectroscopy"};
  p.title = kTitles[panel];
  // One builder per panel, in the order of PanelTable().
  using Builder = void (*)(PlotPanel&, const PlotSources&);
  static constexpr Builder kBuilders[] = {BuildBandPanel,   BuildAcPanel, BuildGenrecPanel, BuildIVPanel,
                                          BuildCVPanel,     BuildCfPanel, BuildQEPanel,     BuildGradingPanel,
                                          BuildRecordPanel, BuildAsPanel};
  static_assert(std::size(kBuilders) == kAs + 1);
  kBuilders[panel](p, sources);
  for (PlotGraph& g : p.graphs) {
    FitAxisRanges(g);
    // Occupation probabilities always on their whole range.
    if (g.keyword == "ftraps") {
      g.y.min = 0.0;
      g.y.max = 1.0;
    }
  }
  return p;
}

bool PanelHasData(const PlotPanel& panel) {
  return std::any_of(panel.graphs.begin(), panel.graphs.end(), [](const PlotGraph& g) { return !g.series.empty(); });
}

namespace {

void FitAxis(PlotAxis& axis, double lo, double hi, bool pad) {
  if (!(lo <= hi)) {  // no data
    axis.min = axis.scale == AxisScale::kLog ? 1.0 : 0.0;
    axis.max = axis.scale == AxisScale::kLog ? 10.0 : 1.0;
    return;
  }
  if (axis.scale == AxisScale::kLog) {
    double a = std::floor(std::log10(lo)), b = std::ceil(std::log10(hi));
    if (b <= a) b = a + 1.0;
    axis.min = std::pow(10.0, a);
    axis.max = std::pow(10.0, b);
    return;
  }
  if (hi == lo) {
    const double d = lo == 0.0 ? 1.0 : 0.1 * std::fabs(lo);
    axis.min = lo - d;
    axis.max = hi + d;
    return;
  }
  const double room = pad ? 0.05 * (hi - lo) : 0.0;
  axis.min = lo - room;
  axis.max = hi + room;
}

}  // namespace

void FitAxisRanges(PlotGraph& graph) {
  double xlo = INFINITY, xhi = -INFINITY, ylo = INFINITY, yhi = -INFINITY;
  for (const PlotSeries& s : graph.series) {
    for (double v : s.x) xlo = std::min(xlo, v), xhi = std::max(xhi, v);
    for (double v : s.y) ylo = std::min(ylo, v), yhi = std::max(yhi, v);
  }
  FitAxis(graph.x, xlo, xhi, graph.equalAxes);
  FitAxis(graph.y, ylo, yhi, true);
  if (graph.equalAxes && graph.x.scale == AxisScale::kLinear && graph.y.scale == AxisScale::kLinear) {
    const double span = std::max(graph.x.max - graph.x.min, graph.y.max - graph.y.min);
    const double cx = 0.5 * (graph.x.min + graph.x.max), cy = 0.5 * (graph.y.min + graph.y.max);
    graph.x.min = cx - 0.5 * span;
    graph.x.max = cx + 0.5 * span;
    graph.y.min = cy - 0.5 * span;
    graph.y.max = cy + 0.5 * span;
  }
}

}  // namespace zoniq
