#include "batch/recorder.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "batch/batch_file.hpp"
#include "common/format.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "common/zoniq_paths.hpp"
#include "output/generation_profiles.hpp"
#include "output/output_header.hpp"

namespace zoniq {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Interface properties: the occupations of an interface defect.
constexpr int kInterfaceElectronOccupation = 10;
constexpr int kInterfaceHoleOccupation = 11;

std::vector<std::string> V(std::initializer_list<const char*> words) { return {words.begin(), words.end()}; }

const std::array<std::vector<std::string>, REC_TYPES> kProperties = {
    V({"not applicable"}),
    V({"all cell characteristics", "efficiency", "short circuit current", "open circuit voltage", "fill factor",
       "voltage at maximum power", "current at maximum power"}),
    V({"valence band energy",
       "conduction band energy",
       "electron Fermi level",
       "hole Fermi level",
       "electron density",
       "hole density",
       "charge density in defects",
       "net doping density",
       "total charge density",
       "electric field",
       "electron current",
       "hole current",
       "total current",
       "generation rate",
       "recombination rate",
       "integrated (cumulated) generation rate",
       "integrated (cumulated) recombination rate",
       "entire energy band diagram",
       "electron tunnel current",
       "hole tunnel current"}),
    V({"optical band to band generation", "IPV generation of electrons", "IPV generation of holes",
       "thermal emission of electrons", "thermal emission of holes", "thermal capture of electrons",
       "thermal capture of holes", "net generation of  electrons", "net recombination of holes",
       "total recombination rate", "SRG recombination rate", "radiative recombination rate",
       "Auger recombination rate"}),
    V({"occupation probability with electrons", "occupation probability with holes"}),
    V({"ac electron current", "ac hole current", "ac displacement current", "total ac current",
       "ac electrostatic potential", "ac electron Fermi level", "ac hole Fermi level"}),
    V({"general current", "general capacitance", "general conductance", "general G/w (conductance/omega)",
       "general recombination total", "general recombination SRH", "general recombination radiative",
       "general recombination auger"}),
    V({"interface electron current left", "interface electron current right", "interface hole current left",
       "interface hole current right", "(including tunneling) interface electron current left",
       "(including tunneling) interface electron current right", "(including tunneling) interface hole current left",
       "(including tunneling) interface hole current right",
       "(including tunneling) interface thermionic emisstion current",
       "(including tunneling) interface surface charge density", "interface electron occupation",
       "interface hole occupation"}),
    V({"composition",
       "Eg",
       "Chi",
       "epsilon",
       "NC",
       "NV",
       "electron thermal velocity",
       "hole thermal velocity",
       "electron mobility",
       "hole mobility",
       "electron eff. tunnelmass",
       "hole  eff. tunnelmass",
       "shallow donor doping",
       "shallow acceptor doping",
       "nett shallow doping",
       "defect density",
       "defect energy",
       "activation energy",
       "radiative recombination coef.",
       "electron Auger coef.",
       "hole Auger coef."}),
};

const std::vector<std::string> kParts = {"not applicable",
                                         "last layer",
                                         "all layers",
                                         "real part of ac property",
                                         "imaginary part of ac property",
                                         "real and imaginary part of ac property"};

const std::vector<std::string>& TypeWords() {
  static const std::vector<std::string> v(kRecorderTypeKeywords.begin(), kRecorderTypeKeywords.end());
  return v;
}

const std::vector<std::string>& Words(int kind, int type) {
  if (kind == 0) return TypeWords();
  if (kind == 1) return RecorderPropertyKeywords(type);
  return kParts;
}

// Part codes: index 0 -> -1, 1 -> -2, … 5 -> -6.
int PartCode(int index) { return -1 - index; }
int PartIndex(int code) { return -1 - code; }

}  // namespace

const std::array<const char*, REC_TYPES> kRecorderTypeKeywords = {
    "not applicable",        "cell characterisctics", "energy bands", "generation and recombination",
    "occupation of defects", "ac functions",          "general",      "interfaces",
    "cell definition"};

const std::vector<std::string>& RecorderPropertyKeywords(int type) {
  return kProperties[static_cast<std::size_t>(std::clamp(type, 0, REC_TYPES - 1))];
}

std::string REC_constantToRecorderKeyWord(int kind, int type, int code) {
  const std::vector<std::string>& w = Words(kind, type);
  const int index = kind == 2 ? PartIndex(code) : code;
  if (index < 0 || index >= static_cast<int>(w.size())) return "not applicable";
  return w[static_cast<std::size_t>(index)];
}

int RecorderKeyWordToREC_constant(int kind, int type, std::string_view text) {
  const std::vector<std::string>& w = Words(kind, type);
  const std::string_view t = TrimView(text);
  int found = -1;
  for (std::size_t i = 0; i < w.size() && found < 0; ++i)
    if (EqualsNoCase(t, w[i])) found = static_cast<int>(i);
  for (std::size_t i = 0; i < w.size() && found < 0; ++i)
    if (StartsWithNoCase(t, w[i])) found = static_cast<int>(i);
  if (found < 0) return kRecNoKeyword;
  return kind == 2 ? PartCode(found) : found;
}

bool IsScalarRecorderParameter(const RecorderParameter& p) {
  return p.type == REC_CELL_CHARACTERISTICS || p.type == REC_GENERAL || p.type == REC_INTERFACES;
}

bool NeedsSolution(const RecorderParameter& p) {
  return p.type == REC_INTERFACES || p.type == REC_ENERGY_BANDS || p.type == REC_GENERATION_RECOMBINATION ||
         p.type == REC_OCCUPATION || p.type == REC_AC || p.type == REC_CELL_DEFINITION;
}

bool NeedsCf(const RecorderParameter& p) {
  return p.type == REC_AC ||
         (p.type == REC_GENERAL && (p.property == REC_GENERAL_CAPACITANCE || p.property == REC_GENERAL_CONDUCTANCE ||
                                    p.property == REC_GENERAL_G_OMEGA));
}

namespace {

// Properties of the energy bands, of the generation and recombination and of the cell
// definition (codes within their type) that name a defect level or a defect.
constexpr int kEntireBandDiagram = 17;
bool IsLevelRate(int property) { return property >= 1 && property <= 8; }
constexpr int kCellDefectDensity = 15;
constexpr int kCellDefectEnergy = 16;
constexpr int kCellActivationEnergy = 17;
constexpr int kCellLastProperty = 20;  // hole Auger coefficient
bool IsDefectCellProperty(int property) { return property >= kCellDefectDensity && property <= kCellActivationEnergy; }

}  // namespace

bool CanRecord(const RecorderParameter& p, std::string& why) {
  bool ok = false;
  switch (p.type) {
    case REC_INTERFACES:
      // Interface currents (with and without tunnelling), the current across the interface,
      // the interface charge and the occupations of an interface defect.
      ok = p.layer >= 1 && ((p.property >= 0 && p.property <= 9) ||
                            ((p.property == kInterfaceElectronOccupation || p.property == kInterfaceHoleOccupation) &&
                             p.defect >= 1 && p.defect <= MAXIFACEDEFECTS));
      break;
    case REC_CELL_CHARACTERISTICS:
      ok = p.property >= REC_EFFICIENCY && p.property <= REC_JMPP;
      break;
    case REC_GENERAL:
      ok = p.property >= REC_GENERAL_CURRENT && p.property <= REC_GENERAL_RECOMBINATION_AUGER;
      break;
    case REC_ENERGY_BANDS:
      ok = p.property >= 0 && p.property < static_cast<int>(RecorderPropertyKeywords(p.type).size()) &&
           p.property != kEntireBandDiagram;
      break;
    case REC_GENERATION_RECOMBINATION:
      ok = p.property >= 0 && p.property <= 12 && (!IsLevelRate(p.property) || (p.defect >= 1 && p.level >= 1));
      break;
    case REC_OCCUPATION:
      ok = (p.property == 0 || p.property == 1) && p.defect >= 1 && p.level >= 1;
      break;
    case REC_AC:
      ok = p.property >= 0 && p.property <= 6 && (p.layer == kRecRealPart || p.layer == kRecImaginaryPart);
      break;
    case REC_CELL_DEFINITION:
      ok = p.property >= 0 && p.property <= kCellLastProperty && (!IsDefectCellProperty(p.property) || p.defect >= 1);
      break;
    default:
      break;
  }
  if (!ok) why = "Recording \"" + MakeRecordText(p) + "\" is not available in this version of ZONIQ";
  return ok;
}

std::string MakeRecordText(const RecorderParameter& p) {
  static constexpr const char* kTypeNames[] = {
      "Not applicable", "Cell characteristics", "Energy bands", "Generation",     "Occupation",
      "AC functions",   "General properties",   "Interface",    "Cell definition"};
  std::string text = kTypeNames[std::clamp(p.type, 0, REC_TYPES - 1)];
  text += ": " + REC_constantToRecorderKeyWord(1, p.type, p.property);
  if (p.type == REC_CELL_CHARACTERISTICS) {
    static constexpr const char* kUnits[] = {"", " (%)", " (mA/cm2)", " (V)", " (%)", " (V)", " (mA/cm2)"};
    if (p.property >= 0 && p.property <= REC_JMPP) text += kUnits[p.property];
  } else if (p.type == REC_GENERAL && p.property != REC_GENERAL_CAPACITANCE && p.property != REC_GENERAL_CONDUCTANCE &&
             p.property != REC_GENERAL_G_OMEGA) {
    text += " (mA/cm2)";
  } else if (p.type == REC_INTERFACES && p.property <= 9) {
    text += p.property == 9 ? " (C/cm2)" : " (mA/cm2)";
  }
  if (p.type == REC_INTERFACES && p.layer > 0)
    text += ", interface " + std::to_string(p.layer);
  else if (p.layer > 0)
    text += ", layer " + std::to_string(p.layer);
  else if (p.layer < kRecNotApplicable)
    text += ", " + REC_constantToRecorderKeyWord(2, 0, p.layer);
  if (p.defect > 0) text += ", defect " + std::to_string(p.defect);
  if (p.level > 0) text += ", level " + std::to_string(p.level);
  return text;
}

int AddRecord(const Environment& env, RecorderSetup& recorder, const RecorderParameter& p) {
  if (recorder.parameters.size() >= static_cast<std::size_t>(kMaxRecorderParameters)) {
    env.Error("Too many recorder parameters defined",
              "The number of recorder parameters is limited to " + std::to_string(kMaxRecorderParameters) + ".");
    return -1;
  }
  recorder.parameters.push_back(p);
  return 0;
}

void resetRecordList(RecorderSetup& recorder) {
  recorder.steps.clear();
  recorder.haveHeader = false;
  recorder.headerRecord = SimulationRecord{};
  recorder.ivStep = 0.0;
  recorder.currentStep = -1;
}

bool RecorderNeedsIV(const RecorderSetup& recorder) {
  for (const RecorderParameter& p : recorder.parameters)
    if (p.type == REC_CELL_CHARACTERISTICS || p.type == REC_GENERAL) return true;
  return false;
}

namespace {

// The computed point of the I-V curve at the cell voltage V (the sweep may run either way); -1
// when the sweep did not reach it.
int PointAt(const IVResult& iv, double V) {
  const double dV = iv.points > 1 ? std::abs(iv.vCell[1] - iv.vCell[0]) : 1.0;
  for (int i = 0; i < iv.pointsDone; ++i)
    if (std::abs(iv.vCell[static_cast<std::size_t>(i)] - V) <= 1e-6 * dV) return i;
  return -1;
}

}  // namespace

std::vector<double> RecordStepValues(const RecorderSetup& recorder, const SimulationRecord* record,
                                     const BandDiagramProfiles* profiles) {
  std::vector<double> values(recorder.parameters.size(), kNaN);
  if (profiles)
    for (std::size_t k = 0; k < values.size(); ++k) {
      const RecorderParameter& p = recorder.parameters[k];
      if (p.type != REC_INTERFACES || p.layer < 1 || p.layer > static_cast<int>(profiles->interfaces.size())) continue;
      const InterfaceProfileRow& r = profiles->interfaces[static_cast<std::size_t>(p.layer - 1)];
      const double fields[] = {r.jn1, r.jn2, r.jp1, r.jp2, r.jn1t, r.jn2t, r.jp1t, r.jp2t, r.jth, r.pi};
      if (p.property >= 0 && p.property < 10) values[k] = fields[p.property];
      if ((p.property == kInterfaceElectronOccupation || p.property == kInterfaceHoleOccupation) && p.defect >= 1 &&
          p.defect <= MAXIFACEDEFECTS) {
        const auto d = static_cast<std::size_t>(p.defect - 1);
        values[k] = p.property == kInterfaceElectronOccupation ? r.fn[d] : r.fp[d];
      }
    }
  if (!record) return values;
  const IVResult& iv = record->iv;
  const CellParameters& c = record->cell;
  for (std::size_t k = 0; k < values.size(); ++k) {
    const RecorderParameter& p = recorder.parameters[k];
    double& v = values[k];
    if (p.type == REC_CELL_CHARACTERISTICS) {
      if (!iv.present) continue;  // NaN: no I-V at all
      switch (p.property) {
        case REC_EFFICIENCY:
          v = c.etaValid ? c.eta : -1.0;
          break;
        case REC_JSC:
          v = c.jscValid ? c.Jsc : -1.0;
          break;
        case REC_VOC:
          v = c.vocValid ? c.Voc : -1.0;
          break;
        case REC_FF:
          v = c.ffValid ? c.FF : -1.0;
          break;
        case REC_VMPP:
          v = c.etaValid ? c.Vmpp : -1.0;
          break;
        case REC_JMPP:
          v = c.etaValid ? c.Jmpp : -1.0;
          break;
        default:
          break;
      }
    } else if (p.type == REC_GENERAL && NeedsCf(p)) {
      // The first point of the step's C-f curve: nF/cm2, S/cm2 and S/cm2 per rad/s.
      const CfResult& cf = record->cf;
      if (!cf.present || cf.pointsDone < 1) continue;
      if (p.property == REC_GENERAL_CAPACITANCE) v = cf.C[0];
      if (p.property == REC_GENERAL_CONDUCTANCE) v = cf.G[0];
      if (p.property == REC_GENERAL_G_OMEGA) v = cf.G[0] / (2.0 * 3.141592653589793 * cf.f[0]);
    } else if (p.type == REC_GENERAL && iv.present && iv.points > 0) {
      // The general current at the sweep's start voltage, the recombination currents at its
      // end; both already in mA/cm2.
      const std::size_t last = static_cast<std::size_t>(iv.points - 1);
      if (p.property == REC_GENERAL_CURRENT) {
        const int i = PointAt(iv, record->actie.iv.startV);
        if (i >= 0) v = iv.j[static_cast<std::size_t>(i)];
        continue;
      }
      const int i = PointAt(iv, iv.vCell[last]);
      if (i < 0) continue;
      const std::size_t u = static_cast<std::size_t>(i);
      switch (p.property) {
        case REC_GENERAL_RECOMBINATION_TOTAL:
          v = iv.jbulk[u];  // bulk recombination, as the script's recombination.tot
          break;
        case REC_GENERAL_RECOMBINATION_SRH:
          v = iv.jSRH[u];
          break;
        case REC_GENERAL_RECOMBINATION_RADIATIVE:
          v = iv.jRadiative[u];
          break;
        case REC_GENERAL_RECOMBINATION_AUGER:
          v = iv.jAuger[u];
          break;
        default:
          break;
      }
    }
  }
  return values;
}

namespace {

// The layer (from 0) a layer field names in a cell of `layers` layers, or −1.
int LayerIndex(int field, int layers) {
  if (field == kRecLastLayer) return layers - 1;
  return field >= 1 && field <= layers ? field - 1 : -1;
}

const BulkDefectRecord* FindDefect(const CalculationVariables& cv, int layer, int defect) {
  if (layer < 0 || layer >= MAXLAYERS) return nullptr;
  for (const BulkDefectRecord& d : cv.rec.layer[static_cast<std::size_t>(layer)])
    if (d.input.defect == defect) return &d;
  return nullptr;
}

// One profile; false when the quantity cannot be extracted from this state.
bool ExtractProfile(const RecorderParameter& p, const CalculationVariables& cv, const BandDiagramProfiles& b,
                    const AcSolution* ac, std::vector<double>& out) {
  const CalculationParameters& par = *cv.par;
  const int N = cv.mesh.N;
  const Schaal& s = par.schaal;
  const auto layerOf = [&](int i) {
    int l = 0;
    while (l + 1 < par.nlayers && i > cv.mesh.last[l]) ++l;
    return l;
  };
  out.assign(static_cast<std::size_t>(N), 0.0);
  switch (p.type) {
    case REC_ENERGY_BANDS: {
      const std::vector<double>* columns[] = {
          &b.Ev, &b.Ec, &b.Fn,   &b.Fp, &b.n, &b.p,    &b.rhoDefect, &b.netDoping, &b.rho,      &b.E,
          &b.jn, &b.jp, &b.jtot, &b.G,  &b.R, &b.cumG, &b.cumR,      nullptr,      &b.jnTunnel, &b.jpTunnel};
      if (p.property < 0 || p.property >= 20 || !columns[p.property]) return false;
      const std::vector<double>& c = *columns[p.property];
      if (static_cast<int>(c.size()) < N) return false;
      std::copy(c.begin(), c.begin() + N, out.begin());
      return true;
    }
    case REC_GENERATION_RECOMBINATION: {
      if (!IsLevelRate(p.property)) {
        for (int i = 0; i < N; ++i) {
          const auto k = static_cast<std::size_t>(i);
          const double rate = s.S[static_cast<std::size_t>(layerOf(i))] * s.Dmax / (s.L * s.L) * 1e-6;
          const double values[] = {cv.G[k],
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   cv.blocks.total.U[k],
                                   cv.blocks.Srh().U[k],
                                   cv.blocks.radiative.U[k],
                                   cv.blocks.auger.U[k]};
          out[k] = rate * values[p.property];
        }
        return true;
      }
      const int l = LayerIndex(p.layer, par.nlayers);
      const BulkDefectRecord* d = FindDefect(cv, l, p.defect - 1);
      if (!d || p.level > d->levels()) return false;
      for (int i = cv.mesh.first[l]; i <= cv.mesh.last[l]; ++i) {
        const LevelRates r = DefectLevelRates(cv, *d, p.level - 1, i);
        const double values[] = {0.0, r.ipvGn, r.ipvGp, r.Gnth, r.Gpth, r.Rnth, r.Rpth, r.netGn(), -r.netGp()};
        out[static_cast<std::size_t>(i)] = values[p.property];
      }
      return true;
    }
    case REC_OCCUPATION: {
      const int l = LayerIndex(p.layer, par.nlayers);
      const BulkDefectRecord* d = FindDefect(cv, l, p.defect - 1);
      if (!d || p.level > d->levels()) return false;
      // The mean over the energy axis (its weights sum to one).
      for (int j = 0; j < d->count; ++j) {
        double f = 0.0;
        for (int e = 0; e < d->axis.count; ++e) {
          const LevelRecord& r = d->record(e, p.level - 1);
          const double w =
              d->axis.weight[static_cast<std::size_t>(e)] * d->axis.quadrature[static_cast<std::size_t>(e)];
          f += w * (p.property == 0 ? r.f[static_cast<std::size_t>(j)] : r.een_min_f[static_cast<std::size_t>(j)]);
        }
        out[static_cast<std::size_t>(d->first + j)] = f;
      }
      return true;
    }
    case REC_AC: {
      if (!ac || static_cast<int>(ac->dpsi.size()) != N) return false;
      // As the ac file: currents in mA/cm2 per kT/q applied, potentials in kT.
      const std::vector<Complex>* columns[] = {&ac->jn, &ac->jp, &ac->jd, &ac->jtot, &ac->dpsi, &ac->dphin, &ac->dphip};
      const double scale = p.property <= 3 ? 0.1 * par.Vt : 1.0;
      for (int i = 0; i < N; ++i) {
        const Complex z = (*columns[p.property])[static_cast<std::size_t>(i)];
        out[static_cast<std::size_t>(i)] = scale * (p.layer == kRecRealPart ? z.real() : z.imag());
      }
      return true;
    }
    case REC_CELL_DEFINITION: {
      if (p.property == kCellDefectDensity) {
        const int l = LayerIndex(p.layer, par.nlayers);
        const BulkDefectRecord* d = FindDefect(cv, l, p.defect - 1);
        if (!d) return false;
        const std::vector<double>& Nt =
            cv.defectNt[static_cast<std::size_t>(l)][static_cast<std::size_t>(p.defect - 1)];
        for (int j = 0; j < d->count && j < static_cast<int>(Nt.size()); ++j)
          out[static_cast<std::size_t>(d->first + j)] =
              Nt[static_cast<std::size_t>(j)] * s.S[static_cast<std::size_t>(l)] * 1e-6;
        return true;
      }
      const PointData& pt = cv.pt;
      if (p.property == kCellDefectEnergy || p.property == kCellActivationEnergy) {
        // The level's energy above EV at each point of its layer [eV] (the reference of the
        // definition may follow the graded gap), and its depth below the nearer band edge: the
        // activation energy of its faster thermal emission.
        const int l = LayerIndex(p.layer, par.nlayers);
        const BulkDefectRecord* d = FindDefect(cv, l, p.defect - 1);
        const int level = p.level >= 1 ? p.level - 1 : 0;
        if (!d || level >= d->levels()) return false;
        const LevelInput& in = d->input.level[static_cast<std::size_t>(level)];
        for (int i = d->first; i < d->first + d->count; ++i) {
          const auto k = static_cast<std::size_t>(i);
          double Et = in.Et;
          if (d->input.reference == 1)
            Et = in.Et + pt.Eg[k] / 2 + (par.Vt / 2) * std::log(pt.NV[k] / pt.NC[k]);
          else if (d->input.reference == 2)
            Et = pt.Eg[k] - in.Et;
          out[k] = p.property == kCellDefectEnergy ? Et : std::min(Et, pt.Eg[k] - Et);
        }
        return true;
      }
      // Undo the normalisations of the solver (x_dependence): mobilities carry sqrt(τ)·Vt/Dmax,
      // velocities 1/(Dmax/L), the radiative coefficient S·L²/Dmax and the Auger ones S²·L²/Dmax.
      const double sqrtTau = std::sqrt(par.Vt / kVt300);
      const double L2D = s.L * s.L / s.Dmax;
      for (int i = 0; i < N; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const double S = s.S[static_cast<std::size_t>(layerOf(i))];
        const double dens = S * 1e-6;  // [S_l] → /cm³
        double v = 0.0;
        switch (p.property) {
          case 0:
            v = pt.y[k];
            break;
          case 1:
            v = pt.Eg[k];
            break;
          case 2:
            v = pt.chi[k];
            break;
          case 3:
            v = pt.eps[k];
            break;
          case 4:
            v = pt.NC[k] * dens;
            break;
          case 5:
            v = pt.NV[k] * dens;
            break;
          case 6:  // cm/s
            v = pt.vth_n[k] * s.snelheid * 100.0;
            break;
          case 7:
            v = pt.vth_p[k] * s.snelheid * 100.0;
            break;
          case 8:  // cm²/Vs
            v = pt.mu_n[k] * s.Dmax / (sqrtTau * par.Vt) * 1e4;
            break;
          case 9:
            v = pt.mu_p[k] * s.Dmax / (sqrtTau * par.Vt) * 1e4;
            break;
          case 10:
            v = pt.me[k];
            break;
          case 11:
            v = pt.mh[k];
            break;
          case 12:
            v = pt.ND[k] * dens;
            break;
          case 13:
            v = pt.NA[k] * dens;
            break;
          case 14:
            v = (pt.ND[k] - pt.NA[k]) * dens;
            break;
          case 18:  // cm³/s
            v = pt.Krad[k] / (S * L2D) * 1e6;
            break;
          case 19:  // cm⁶/s
            v = pt.Cn[k] / (S * S * L2D) * 1e12;
            break;
          case 20:
            v = pt.Cp[k] / (S * S * L2D) * 1e12;
            break;
          default:
            return false;
        }
        out[k] = v;
      }
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

StepProfiles RecordStepProfiles(const std::vector<RecorderParameter>& parameters, const CalculationVariables& cv,
                                const BandDiagramProfiles& bands, const AcSolution* ac) {
  StepProfiles out;
  out.values.resize(parameters.size());
  if (cv.par == nullptr || cv.mesh.N < 1) return out;
  const int N = cv.mesh.N;
  out.x.assign(cv.mesh.xum.begin(), cv.mesh.xum.begin() + N);
  for (std::size_t k = 0; k < parameters.size(); ++k) {
    const RecorderParameter& p = parameters[k];
    if (IsScalarRecorderParameter(p) || !NeedsSolution(p)) continue;
    if (!ExtractProfile(p, cv, bands, ac, out.values[k])) out.values[k].assign(static_cast<std::size_t>(N), kNaN);
  }
  return out;
}

void saveCalculationRecord(RecorderSetup& recorder, const BatchSetup& batch, long long step,
                           const std::array<double, kMaxBatchParameters>& values, int definitionFile,
                           const SimulationRecord* record, bool failed, const BandDiagramProfiles* profiles,
                           StepProfiles* stepProfiles) {
  recorder.currentStep = step;
  RecordedStep r;
  r.step = step;
  r.definitionFile = definitionFile;
  if (definitionFile >= 0 && definitionFile < static_cast<int>(batch.definitionFiles.size()))
    r.definitionFileName = batch.definitionFiles[static_cast<std::size_t>(definitionFile)];
  for (int i = 0; i < batch.numberOfParameters; ++i) {
    const BatchParameter& bp = batch.bp[static_cast<std::size_t>(i)];
    const double v = values[static_cast<std::size_t>(i)];
    r.batchNumbers.push_back(v);
    if (bp.valuesFromList && bp.valuesAreFileNames) {
      const int f = static_cast<int>(v);
      r.batchValues.push_back(f >= 0 && f < static_cast<int>(bp.fileNameList.size())
                                  ? bp.fileNameList[static_cast<std::size_t>(f)]
                                  : std::string());
    } else {
      r.batchValues.push_back(sci(v, 12, 5));
    }
  }
  r.failed = failed;
  if (stepProfiles && !failed) r.profiles = std::move(*stepProfiles);
  r.values =
      failed ? std::vector<double>(recorder.parameters.size(), kNaN) : RecordStepValues(recorder, record, profiles);
  // The header of the result file describes the first recorded step; a copy, so that clearing
  // the simulations does not take it away.
  if (!recorder.haveHeader && record) {
    recorder.headerRecord = *record;
    recorder.headerRecord.iv = IVResult{};
    recorder.headerRecord.iv.present = record->iv.present;
    if (record->iv.present && record->iv.v.size() >= 2) recorder.ivStep = record->iv.v[1] - record->iv.v[0];
    recorder.haveHeader = true;
  }
  recorder.steps.push_back(std::move(r));
}

// ---------------------------------------------------------------- result file

bool InScalarKind(const RecorderParameter& p, int kind) {
  switch (kind) {
    case kRecordIV:
      return p.type == REC_CELL_CHARACTERISTICS || p.type == REC_GENERAL;
    case kRecordGeneral:
      return p.type == REC_GENERAL;
    case kRecordInterface:
      return p.type == REC_INTERFACES;
    case kRecordAllScalars:
      return IsScalarRecorderParameter(p);
    default:
      return false;
  }
}

std::string RecorderTableHeading(const RecorderSetup& recorder, int kind) {
  const BatchSetup& b = recorder.batchCopy;
  std::string out = "i";
  int k = 1;
  if (b.variationOfDefinitionFiles) out += "\tbp " + std::to_string(k++);
  for (int i = 0; i < b.numberOfParameters; ++i) out += "\tbp " + std::to_string(k++);
  for (const RecorderParameter& p : recorder.parameters)
    if (InScalarKind(p, kind)) out += "\t" + MakeRecordText(p);
  return out + "\n";
}

std::string RecorderTableRow(const RecorderSetup& recorder, const RecordedStep& step, int kind) {
  std::string out = std::to_string(step.step + 1);
  if (recorder.batchCopy.variationOfDefinitionFiles) out += "\t" + step.definitionFileName;
  for (const std::string& v : step.batchValues) out += "\t" + v;
  for (std::size_t k = 0; k < recorder.parameters.size(); ++k) {
    if (!InScalarKind(recorder.parameters[k], kind)) continue;
    const double v = k < step.values.size() ? step.values[k] : kNaN;
    out += "\t" + (std::isnan(v) ? std::string("         NaN") : sci(v, 12, 5));
  }
  return out + "\n";
}

namespace {

std::string BatchOverview(const BatchSetup& b) {
  std::string out = "*** Overview of batch settings ***\n\n";
  int n = 1;
  if (b.variationOfDefinitionFiles) out += "batch parameter " + std::to_string(n++) + ":\tDefinition files varied\n";
  for (int i = 0; i < b.numberOfParameters; ++i, ++n) {
    const BatchParameter& bp = b.bp[static_cast<std::size_t>(i)];
    const std::string label = BatchLabelText(bp);
    if (!bp.valuesFromList) {
      out += "batch parameter " + std::to_string(n) + ":\t" + label + ":\tfrom\t" + sci(bp.startValue, 10, 3) +
             "\tto\t" + sci(bp.stopValue, 10, 3) + "\t" + (bp.logarithmic ? "Logaritmic" : "Linear") + "\n";
    } else if (bp.listSaved) {
      out +=
          "batch parameter " + std::to_string(n) + ":\t" + label + ":\ttaken from a bdf-file:\t" + bp.fileName + "\n";
    } else {
      out += "bp " + std::to_string(n) + ":\t" + label + ":\ttaken from an unsaved list\n";
    }
  }
  return out;
}

}  // namespace

std::string RecorderResultText(const RecorderSetup& recorder, const std::string& version, int kind) {
  const bool iv = kind == kRecordIV || kind == kRecordAllScalars;
  std::string out;
  HeaderContext hc;
  hc.version = version;
  const int headerKind = kind == kRecordGeneral     ? kResultBatchGeneral
                         : kind == kRecordInterface ? kResultBatchInterface
                                                    : kResultIV;
  WriteOutputHeader(out, recorder.headerRecord, headerKind, false, hc);
  if (iv) out += "\nStepsize for IV-simulation:\t" + sci(recorder.ivStep, 10, 3) + "\tV\n\n";
  out += "\n*** Overview of recorder settings ***\n\n";
  for (const RecorderParameter& p : recorder.parameters)
    if (kind == kRecordAllScalars || InScalarKind(p, kind)) out += MakeRecordText(p) + "\n";
  out += "\n\n";
  out += BatchOverview(recorder.batchCopy);
  out += "\n\n*** The recorded data ***\n\n";
  out += RecorderTableHeading(recorder, kind);
  bool anyNaN = false;
  for (const RecordedStep& s : recorder.steps) {
    out += RecorderTableRow(recorder, s, kind);
    for (std::size_t k = 0; k < s.values.size() && k < recorder.parameters.size(); ++k)
      anyNaN = anyNaN || (InScalarKind(recorder.parameters[k], kind) && std::isnan(s.values[k]));
  }
  if (anyNaN) out += "Warning: not all the requested data could be recorded, and have been put to NaN\n";
  return out;
}

namespace {

struct KindInfo {
  int type;        // recorder type of the profiles
  int headerKind;  // kind of the common header
};
constexpr KindInfo kKinds[kRecordKinds] = {{REC_NOT_APPLICABLE, kResultIV},
                                           {REC_ENERGY_BANDS, kResultBandDiagram},
                                           {REC_GENERATION_RECOMBINATION, kResultGenerationRecombination},
                                           {REC_OCCUPATION, kResultOccupation},
                                           {REC_AC, kResultAc},
                                           {REC_NOT_APPLICABLE, kResultBatchGeneral},
                                           {REC_NOT_APPLICABLE, kResultBatchInterface},
                                           {REC_CELL_DEFINITION, kResultGrading}};

std::string Sci103(double v) { return std::isnan(v) ? std::string("       NaN") : sci(v, 10, 3); }

// The block of batch values (`WriteParameterBlok`): one line per batch parameter with its value
// at every step (the definition file of every step first, when they varied).
std::string ParameterBlock(const RecorderSetup& recorder) {
  const BatchSetup& b = recorder.batchCopy;
  std::string out;
  int k = 1;
  if (b.variationOfDefinitionFiles) {
    out += "bp " + std::to_string(k++) + ":";
    for (const RecordedStep& s : recorder.steps) out += "\t" + s.definitionFileName;
    out += "\n";
  }
  for (int i = 0; i < b.numberOfParameters; ++i, ++k) {
    const BatchParameter& bp = b.bp[static_cast<std::size_t>(i)];
    out += "bp " + std::to_string(k) + ":";
    for (const RecordedStep& s : recorder.steps) {
      const auto u = static_cast<std::size_t>(i);
      if (bp.valuesFromList && bp.valuesAreFileNames)
        out += "\t" + (u < s.batchValues.size() ? s.batchValues[u] : std::string());
      else
        out += "\t" + Sci103(u < s.batchNumbers.size() ? s.batchNumbers[u] : kNaN);
    }
    out += "\n";
  }
  return out;
}

// One row per mesh point up to the largest mesh of all steps; `value(step, i)` gives the entry
// (steps with fewer points leave their column empty). Returns whether a NaN was written.
template <typename Value>
bool MeshRows(std::string& out, const RecorderSetup& recorder, Value value) {
  std::size_t rows = 0;
  for (const RecordedStep& s : recorder.steps) rows = std::max(rows, s.profiles.x.size());
  bool nan = false;
  for (std::size_t i = 0; i < rows; ++i) {
    out += std::to_string(i);
    for (const RecordedStep& s : recorder.steps) {
      out += "\t";
      if (i >= s.profiles.x.size() && !s.failed) continue;
      const double v = value(s, i);
      nan = nan || std::isnan(v);
      out += Sci103(v);
    }
    out += "\n";
  }
  return nan;
}

// The mesh and one table per recorded profile of `type` (numbered from 1).
std::string ProfileTables(const RecorderSetup& recorder, int type) {
  std::string out = "* The mesh: x(um) *\n\n" + ParameterBlock(recorder);
  MeshRows(out, recorder,
           [](const RecordedStep& s, std::size_t i) { return i < s.profiles.x.size() ? s.profiles.x[i] : kNaN; });
  int number = 1;
  for (std::size_t k = 0; k < recorder.parameters.size(); ++k) {
    const RecorderParameter& p = recorder.parameters[k];
    if (p.type != type) continue;
    out += "\n* Parameter " + std::to_string(number++) + ":\t" + MakeRecordText(p) + " *\n";
    out += ParameterBlock(recorder);
    const bool nan = MeshRows(out, recorder, [k](const RecordedStep& s, std::size_t i) {
      if (k >= s.profiles.values.size() || i >= s.profiles.values[k].size()) return kNaN;
      return s.profiles.values[k][i];
    });
    if (nan) out += "Warning: not all the requested data could be recorded, and have been put to NaN\n";
    out += "\n\n\n";
  }
  return out;
}

bool HasType(const RecorderSetup& recorder, int type) {
  for (const RecorderParameter& p : recorder.parameters)
    if (p.type == type) return true;
  return false;
}

}  // namespace

int RecorderTypeOfKind(int kind) { return kind >= 0 && kind < kRecordKinds ? kKinds[kind].type : REC_NOT_APPLICABLE; }

int RecorderKindOfFileName(std::string_view name) {
  const std::size_t dot = name.find_last_of('.');
  const std::string_view ext = dot == std::string_view::npos ? std::string_view{} : name.substr(dot);
  if (EqualsNoCase(ext, ".eb")) return kRecordEnergyBands;
  if (EqualsNoCase(ext, ".gen")) return kRecordGeneration;
  if (EqualsNoCase(ext, ".occ")) return kRecordOccupation;
  if (EqualsNoCase(ext, ".ac")) return kRecordAc;
  if (EqualsNoCase(ext, ".iv")) return kRecordIV;
  if (EqualsNoCase(ext, ".gnr")) return kRecordGeneral;
  if (EqualsNoCase(ext, ".ifr")) return kRecordInterface;
  return kRecordAllScalars;
}

std::string RecorderProfileText(const RecorderSetup& recorder, int kind, const std::string& version) {
  const int type = RecorderTypeOfKind(kind);
  std::string out;
  HeaderContext hc;
  hc.version = version;
  WriteOutputHeader(out, recorder.headerRecord, kKinds[std::clamp(kind, 0, kRecordKinds - 1)].headerKind, false, hc);
  out += "\n*** Overview of recorder settings ***\n\n";
  for (const RecorderParameter& p : recorder.parameters)
    if (p.type == type) out += MakeRecordText(p) + "\n";
  out += "\n\n";
  out += BatchOverview(recorder.batchCopy);
  out += "\n\n*** The recorded data ***\n\n";
  return out + ProfileTables(recorder, type);
}

int record_naar_file(const Environment& env, std::FILE* file, const RecorderSetup& recorder, const std::string& version,
                     int kind) {
  if (recorder.steps.empty()) {
    env.Popup("Function save results of recording", "No recording made yet: nothing to save or show");
    return -1;
  }
  const bool scalar =
      kind == kRecordIV || kind == kRecordGeneral || kind == kRecordInterface || kind == kRecordAllScalars;
  if (!scalar && (kind < 0 || kind >= kRecordKinds)) return -1;
  const int type = RecorderTypeOfKind(kind);
  bool any = kind == kRecordAllScalars;
  for (const RecorderParameter& p : recorder.parameters) any = any || (scalar ? InScalarKind(p, kind) : p.type == type);
  if (!any) {
    static constexpr const char* kDescriptions[kRecordKinds] = {
        "IV-characteristics", "recorded EB-data",    "recorded generation data", "recorded occupation data",
        "recorded AC-data",   "recorded properties", "recorded interface data",  "recorded CellDefinition-data"};
    env.Popup("Function save results of recording",
              "No " + std::string(kDescriptions[kind]) + " were recorded: nothing to save or show");
    return -1;
  }
  std::string text =
      scalar ? RecorderResultText(recorder, version, kind) : RecorderProfileText(recorder, kind, version);
  if (kind == kRecordAllScalars && HasType(recorder, REC_CELL_DEFINITION))
    text += "\n\n" + ProfileTables(recorder, REC_CELL_DEFINITION);
  if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0) return -1;
  return 0;
}

// ---------------------------------------------------------------- settings file

namespace {

std::string NumberOrNA(int v) { return v > 0 ? intw(v, 3) : std::string("not applicable"); }

bool HasLayer(const RecorderParameter& p) {
  return p.type == REC_ENERGY_BANDS || p.type == REC_GENERATION_RECOMBINATION || p.type == REC_OCCUPATION ||
         p.type == REC_CELL_DEFINITION;
}
bool HasDefect(const RecorderParameter& p) {
  return p.type == REC_GENERATION_RECOMBINATION || p.type == REC_OCCUPATION || p.type == REC_INTERFACES ||
         p.type == REC_CELL_DEFINITION;
}

bool IsGroup(const RecorderParameter& p) {
  return (p.type == REC_CELL_CHARACTERISTICS && p.property == REC_ALL_CHARACTERISTICS) ||
         (p.type == REC_ENERGY_BANDS && p.property == 17) || (p.type == REC_AC && p.layer == kRecRealAndImaginary);
}

}  // namespace

std::string RecordSettingsText(const RecorderSetup& recorder) {
  std::string out;
  int i = 0;
  for (const RecorderParameter& p : recorder.parameters) {
    if (IsGroup(p)) continue;
    out += "\nRecorder parameter " + intw(i++, 3) + " :\n\n";
    out += "recorder type : " + REC_constantToRecorderKeyWord(0, 0, p.type) + "\n";
    out += "recorder property : " + REC_constantToRecorderKeyWord(1, p.type, p.property) + "\n";
    if (HasLayer(p))
      out +=
          "recorder layer : " + (p.layer > 0 ? intw(p.layer, 3) : REC_constantToRecorderKeyWord(2, 0, p.layer)) + "\n";
    if (p.type == REC_AC) out += "recorder ac property : " + REC_constantToRecorderKeyWord(2, 0, p.layer) + "\n";
    if (p.type == REC_INTERFACES) out += "recorder interface : " + NumberOrNA(p.layer) + "\n";
    if (HasDefect(p)) {
      out += "recorder defect : " + NumberOrNA(p.defect) + "\n";
      out += "recorder level : " + NumberOrNA(p.level) + "\n";
    }
  }
  return out;
}

int SaveRecordSettingsInFile(std::FILE* file, UserInterface& ui, const HeaderInfo& header,
                             const RecorderSetup& recorder, bool withHeader) {
  std::string out;
  if (withHeader && !WriteCommentLinesInFile(out, ui, header, "Record Settings file")) return -1;
  out += RecordSettingsText(recorder);
  if (std::fwrite(out.data(), 1, out.size(), file) != out.size() || std::fflush(file) != 0) return -1;
  return 0;
}

int SaveRecordSettingsToPath(const Environment& env, std::string_view name, const HeaderInfo& header,
                             const RecorderSetup& recorder) {
  std::string full;
  CheckZONIQPaths(env.programFolder, &full, nullptr, name, FK_RECORD);
  FilePtr f = OpenFile(NativePath(full), "wb");
  if (!f || SaveRecordSettingsInFile(f.get(), *env.ui, header, recorder, true) != 0) {
    env.Error("Error whilst saving the recorder settings", "The record settings file cannot be written: " + full);
    return -1;
  }
  return 0;
}

int SetRecordFromText(const Environment& env, std::string_view text, const std::string& fileName,
                      RecorderSetup& recorder) {
  constexpr const char* kTitle = "Error whilst setting the recorder: SetRecordFromFile()";
  std::vector<RecorderParameter> list;
  bool open = false;
  long lineNumber = 0;
  const auto fail = [&](const std::string& what) {
    env.Error(kTitle, "Record Settings File: " + fileName + "\n" + what + " (line " + std::to_string(lineNumber) + ")");
    return -1;
  };
  // A number within [1, limit] or "not applicable" (-1).
  const auto number = [&](std::string_view value, int limit, int& out) {
    const std::string_view t = TrimView(value);
    if (StartsWithNoCase(t, "not appl")) return out = kRecNotApplicable, true;
    double v = 0.0;
    bool finite = true;
    if (ScanNumberAt(t, v, finite) != t.size() || t.empty() || v != std::floor(v) || v < 1 || v > limit) return false;
    out = static_cast<int>(v);
    return true;
  };
  for (std::string_view raw : SplitLines(text)) {
    ++lineNumber;
    if (IsSettingsCommentLine(raw)) continue;
    const std::string_view line = TrimView(raw);
    const std::size_t colon = line.find(':');
    const std::string_view value = colon == std::string_view::npos ? std::string_view{} : line.substr(colon + 1);
    if (StartsWithNoCase(line, "Recorder parameter")) {
      if (list.size() >= static_cast<std::size_t>(kMaxRecorderParameters))
        return fail("The number of recorder parameters is limited to " + std::to_string(kMaxRecorderParameters));
      list.emplace_back();
      open = true;
      continue;
    }
    if (!StartsWithNoCase(line, "recorder ")) continue;
    if (!open) return fail("A recorder item comes before any \"Recorder parameter\" line");
    RecorderParameter& p = list.back();
    if (StartsWithNoCase(line, "recorder type :")) {
      const int t = RecorderKeyWordToREC_constant(0, 0, value);
      if (t == kRecNoKeyword) return fail("Recorder type not recognised: \"" + std::string(TrimView(value)) + "\"");
      p.type = t;
    } else if (StartsWithNoCase(line, "recorder property :")) {
      const int c = RecorderKeyWordToREC_constant(1, p.type, value);
      if (c == kRecNoKeyword) return fail("Recorder property not recognised: \"" + std::string(TrimView(value)) + "\"");
      p.property = c;
    } else if (StartsWithNoCase(line, "recorder layer :")) {
      const int c = RecorderKeyWordToREC_constant(2, 0, value);
      if (c == kRecLastLayer || c == kRecAllLayers)
        p.layer = c;
      else if (!number(value, MAXLAYERS, p.layer))
        return fail("Layer not recognised: \"" + std::string(TrimView(value)) + "\"");
    } else if (StartsWithNoCase(line, "recorder ac property :")) {
      const int c = RecorderKeyWordToREC_constant(2, 0, value);
      if (c > kRecAllLayers || c < kRecRealAndImaginary)
        return fail("Ac part not recognised: \"" + std::string(TrimView(value)) + "\"");
      p.layer = c;
    } else if (StartsWithNoCase(line, "recorder interface :")) {
      if (!number(value, MAXLAYERS - 1, p.layer))
        return fail("Interface not recognised: \"" + std::string(TrimView(value)) + "\"");
    } else if (StartsWithNoCase(line, "recorder defect :")) {
      if (!number(value, MAXBULKDEFECTS, p.defect))
        return fail("Defect not recognised: \"" + std::string(TrimView(value)) + "\"");
    } else if (StartsWithNoCase(line, "recorder level :")) {
      if (!number(value, MAXLEVELS, p.level))
        return fail("Level not recognised: \"" + std::string(TrimView(value)) + "\"");
    }
  }
  // Group entries stand for their members.
  std::vector<RecorderParameter> expanded;
  for (const RecorderParameter& p : list) {
    if (p.type == REC_CELL_CHARACTERISTICS && p.property == REC_ALL_CHARACTERISTICS) {
      for (int c = REC_EFFICIENCY; c <= REC_JMPP; ++c) expanded.push_back({REC_CELL_CHARACTERISTICS, c});
    } else if (p.type == REC_ENERGY_BANDS && p.property == 17) {
      for (int c = 0; c < 17; ++c) expanded.push_back({REC_ENERGY_BANDS, c, p.layer, p.defect, p.level});
    } else if (p.type == REC_AC && p.layer == kRecRealAndImaginary) {
      expanded.push_back({REC_AC, p.property, kRecRealPart, p.defect, p.level});
      expanded.push_back({REC_AC, p.property, kRecImaginaryPart, p.defect, p.level});
    } else {
      expanded.push_back(p);
    }
  }
  if (expanded.size() > static_cast<std::size_t>(kMaxRecorderParameters))
    return fail("The number of recorder parameters is limited to " + std::to_string(kMaxRecorderParameters));
  recorder.parameters = std::move(expanded);
  return 0;
}

int SetRecordFromFile(const Environment& env, std::string_view name, RecorderSetup& recorder, std::string* fullPath) {
  std::string full;
  CheckZONIQPaths(env.programFolder, &full, nullptr, name, FK_RECORD);
  if (fullPath) *fullPath = full;
  std::error_code ec;
  const std::optional<std::string> text =
      std::filesystem::is_regular_file(NativePath(full), ec) ? ReadWholeTextFile(full) : std::nullopt;
  if (!text) {
    env.Error("Error whilst setting the recorder: SetRecordFromFile()", "Record Settings File not found:\n   " + full);
    return -1;
  }
  return SetRecordFromText(env, *text, full, recorder);
}

}  // namespace zoniq
