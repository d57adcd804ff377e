#include "celldef/parameter_catalogue.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "common/format.hpp"

namespace zoniq {

namespace {

using Q = CellQuantity;
constexpr double kNoCheck = -1.0;  // lo = 0, hi = -1: no range

// Sensible ranges: wide enough for every real thin-film material and device, narrow enough to
// catch a value given in the wrong unit (a factor 1e4 or 1e6 off) or with a slipped exponent.
const std::vector<QuantityInfo>& Table() {
  static const std::vector<QuantityInfo> kTable = {
      {Q::kSn, "cm/s", 0, 1e10, "surface recombination velocity of electrons at the contact"},
      {Q::kSp, "cm/s", 0, 1e10, "surface recombination velocity of holes at the contact"},
      {Q::kWorkFunction, "eV", 2, 7, "metal work function (switches the flat-band condition off)"},
      {Q::kFlatband, "", 0, 1, "flat-band contact: 1 on, 0 off (the work function is used)"},
      {Q::kRecalculate, "", 0, 1, "flat band recalculated in every batch step (always) or once (first)"},
      {Q::kFilterOn, "", 0, 1, "optical filter at the contact: 1 on, 0 off"},
      {Q::kFilterKind, "", 0, 1, "the filter is a transmission (trans) or reflection (refl) filter"},
      {Q::kFilterValue, "-", 0, 1, "wavelength-independent transmission or reflection of the filter"},
      {Q::kFilterFile, "", 0, kNoCheck, "filter file (folder filter)"},
      {Q::kThickness, "um", 1e-4, 1000, "layer thickness"},
      {Q::kEg, "eV", 0.05, 12, "band gap"},
      {Q::kChi, "eV", 0, 10, "electron affinity"},
      {Q::kEpsilon, "-", 1, 100, "relative permittivity"},
      {Q::kNC, "cm^-3", 1e15, 1e22, "effective density of states of the conduction band"},
      {Q::kNV, "cm^-3", 1e15, 1e22, "effective density of states of the valence band"},
      {Q::kVthn, "cm/s", 1e5, 1e9, "thermal velocity of electrons"},
      {Q::kVthp, "cm/s", 1e5, 1e9, "thermal velocity of holes"},
      {Q::kMun, "cm^2/Vs", 1e-4, 1e5, "electron mobility"},
      {Q::kMup, "cm^2/Vs", 1e-4, 1e5, "hole mobility"},
      {Q::kNA, "cm^-3", 0, 1e21, "shallow acceptor density"},
      {Q::kND, "cm^-3", 0, 1e21, "shallow donor density"},
      {Q::kRadiative, "cm^3/s", 0, 1e-6, "radiative recombination constant"},
      {Q::kAugern, "cm^6/s", 0, 1e-20, "Auger coefficient of electrons"},
      {Q::kAugerp, "cm^6/s", 0, 1e-20, "Auger coefficient of holes"},
      {Q::kComposition, "-", 0, 1, "composition y (0 pure A, 1 pure B material)"},
      {Q::kCompositionFile, "", 0, kNoCheck, "composition grading file (folder grading)"},
      {Q::kAbsorptionA, "1/(cm eV^0.5)", 0, 1e9, "absorption constant A of alpha = (A + B/hv) sqrt(hv - Eg)"},
      {Q::kAbsorptionB, "eV^0.5/cm", 0, 1e9, "absorption constant B of alpha = (A + B/hv) sqrt(hv - Eg)"},
      {Q::kAbsorptionFile, "", 0, kNoCheck, "absorption file (folder absorption)"},
      {Q::kDistribution, "", 0, kNoCheck, "energy distribution: singlelevel, uniform, gauss, CBtail, VBtail"},
      {Q::kChargeType, "", 0, kNoCheck,
       "charge type: neutral, singledonor, doubledonor, singleacceptor, doubleacceptor, amphoteric"},
      {Q::kReference, "", 0, kNoCheck, "reference of the level energy: aboveEV, belowEC, aboveEi"},
      {Q::kEt, "eV", -5, 12, "level energy from the reference"},
      {Q::kEchar, "eV", 1e-4, 2, "characteristic energy (width) of the distribution"},
      {Q::kNtotal, "cm^-3", 0, 1e21, "total defect density"},
      {Q::kNpeak, "cm^-3/eV", 0, 1e23, "peak density of the distribution"},
      {Q::kSigmaN, "cm^2", 0, 1e-10, "electron capture cross section"},
      {Q::kSigmaP, "cm^2", 0, 1e-10, "hole capture cross section"},
      {Q::kMetaAllow, "", 0, 1, "metastable transition switched on (1) or off (0)"},
      {Q::kMetaReference, "", 0, kNoCheck, "reference of the transition energies: aboveEV, belowEC, aboveEi"},
      {Q::kMetaE_TR, "eV", 0, 5, "transition energy TR"},
      {Q::kMetaE_EC, "eV", 0, 5, "activation energy EC"},
      {Q::kMetaE_EE, "eV", 0, 5, "activation energy EE"},
      {Q::kMetaE_HC, "eV", 0, 5, "activation energy HC"},
      {Q::kMetaE_HE, "eV", 0, 5, "activation energy HE"},
      {Q::kMetaNtotal, "cm^-3", 0, 1e21, "density of the metastable defect"},
      {Q::kIBTunneling, "", 0, 1, "intraband tunnelling at the interface: 1 on, 0 off"},
      {Q::kIBMe, "-", 0.01, 10, "relative electron mass for intraband tunnelling"},
      {Q::kIBMh, "-", 0.01, 10, "relative hole mass for intraband tunnelling"},
      {Q::kIFDistribution, "", 0, kNoCheck, "energy distribution: singlelevel, uniform, gauss, CBtail, VBtail"},
      {Q::kIFChargeType, "", 0, kNoCheck, "charge type: neutral, singledonor, singleacceptor"},
      {Q::kIFReference, "", 0, kNoCheck,
       "reference of the level energy: aboveHighestEV, aboveEVLEFT, belowLowestEC, aboveEiLeft, aboveEiRight"},
      {Q::kIFEt, "eV", -5, 12, "level energy from the reference"},
      {Q::kIFEchar, "eV", 1e-4, 2, "characteristic energy (width) of the distribution"},
      {Q::kIFNtotal, "cm^-2", 0, 1e16, "total interface defect density"},
      {Q::kIFNpeak, "cm^-2/eV", 0, 1e18, "peak density of the distribution"},
      {Q::kIFTunneling, "", 0, 1, "tunnelling to the interface defect: 1 on, 0 off"},
      {Q::kIFMe, "-", 0.01, 10, "relative electron mass for tunnelling to the defect"},
      {Q::kIFMh, "-", 0.01, 10, "relative hole mass for tunnelling to the defect"},
      {Q::kIFSigmaNLeft, "cm^2", 0, 1e-10, "electron capture cross section from the left layer"},
      {Q::kIFSigmaNRight, "cm^2", 0, 1e-10, "electron capture cross section from the right layer"},
      {Q::kIFSigmaPLeft, "cm^2", 0, 1e-10, "hole capture cross section from the left layer"},
      {Q::kIFSigmaPRight, "cm^2", 0, 1e-10, "hole capture cross section from the right layer"},
  };
  return kTable;
}

bool Checked(const QuantityInfo& q) { return q.lo <= q.hi; }

std::string Range(const QuantityInfo& q) {
  if (!Checked(q)) return "";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%g to %g", q.lo, q.hi);
  return buf;
}

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

const std::vector<NumericalSetting>& NumericalSettings() {
  using C = ConvergenceParameters;
  static const std::vector<NumericalSetting> kSettings = {
      {"recoverylog", "-", 0, 2, true,
       "recoveries of failing points reported: 0 none, 1 each recovery, 2 also each failed attempt",
       [](const C& c) { return static_cast<double>(c.recoveryLog); },
       [](C& c, double v) { c.recoveryLog = static_cast<int>(v); }},
      {"coupledfallback", "-", 0, 1, true, "a point the Gummel procedure fails is retried coupled: 1 on, 0 off",
       [](const C& c) { return static_cast<double>(c.coupledNewtonFallback); },
       [](C& c, double v) { c.coupledNewtonFallback = static_cast<int>(v); }},
      {"acceptancestep", "kT", 1e-12, 1e3, false, "largest correction a coupled Newton step may still make",
       [](const C& c) { return c.acceptance_step; }, [](C& c, double v) { c.acceptance_step = v; }},
      {"acceptancecurrent", "-", 1e-12, 1, false, "largest relative deviation of the current along the mesh",
       [](const C& c) { return c.acceptance_current; }, [](C& c, double v) { c.acceptance_current = v; }},
      {"minimumbiasstep", "V", 0, 1, false, "smallest halved bias step before a point is given up (0: no halving)",
       [](const C& c) { return c.minimum_bias_step; }, [](C& c, double v) { c.minimum_bias_step = v; }},
  };
  return kSettings;
}

const NumericalSetting* FindNumericalSetting(std::string_view name) {
  for (const NumericalSetting& n : NumericalSettings())
    if (SameNoCase(name, n.name)) return &n;
  return nullptr;
}

std::string SetNumericalSetting(ConvergenceParameters& c, const NumericalSetting& setting, double value) {
  char buf[160];
  if (!std::isfinite(value) || value < setting.lo || value > setting.hi) {
    std::snprintf(buf, sizeof buf, "numerical.%s must lie between %g and %g (value %g)", setting.name, setting.lo,
                  setting.hi, value);
    return buf;
  }
  if (setting.integer && value != std::floor(value)) {
    std::snprintf(buf, sizeof buf, "numerical.%s takes an integer (value %g)", setting.name, value);
    return buf;
  }
  setting.set(c, value);
  return {};
}

const std::vector<QuantityInfo>& AllQuantities() { return Table(); }

const QuantityInfo& InfoOf(CellQuantity quantity) {
  for (const QuantityInfo& q : Table())
    if (q.quantity == quantity) return q;
  // Every quantity has a row (tested); the first row stands in for a broken table.
  return Table().front();
}

std::string ListParametersText() {
  std::string t = "name\tunit\tsensible range\tdescription\n";
  for (const ListedName& n : ListCellParameterNames()) {
    const QuantityInfo& q = InfoOf(n.quantity);
    const char* unit = n.kind == CellValueKind::kNumber ? q.unit : "";
    std::string what = q.description;
    if (n.kind == CellValueKind::kNone) what = "sets the state its last part names (no value): " + what;
    if (n.kind == CellValueKind::kText) what = "takes a keyword or file name: " + what;
    t += n.name + "\t" + unit + "\t" + (n.kind == CellValueKind::kNumber ? Range(q) : std::string()) + "\t" + what +
         "\n";
  }
  for (const NumericalSetting& n : NumericalSettings()) {
    char range[64];
    std::snprintf(range, sizeof range, "%g to %g", n.lo, n.hi);
    t += std::string("numerical.") + n.name + "\t" + n.unit + "\t" + range + "\t" + n.description + "\n";
  }
  return t;
}

std::string PlausibilityWarning(const CellParameter& parameter, double value) {
  if (parameter.valueKind != CellValueKind::kNumber) return {};
  const QuantityInfo& q = InfoOf(parameter.quantity);
  if (!Checked(q) || (value >= q.lo && value <= q.hi)) return {};
  char buf[256];
  std::snprintf(buf, sizeof buf,
                "The value %g lies outside the sensible range %g to %g of the %s (unit %s); it is taken all the same. "
                "Check the unit: the script takes %s, not the definition file's SI units.",
                value, q.lo, q.hi, q.description, q.unit, q.unit);
  return buf;
}

}  // namespace zoniq
