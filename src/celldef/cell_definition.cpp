#include "celldef/cell_definition.hpp"

#include <cmath>
#include <numbers>

namespace zoniq {

const std::array<const char*, NDEFECTTYPES> kDefectTypeText = {
    "neutral", "acceptor", "donor", "doubleacceptor", "doubledonor", "amphoteric", "custom multilevel"};
const std::array<const char*, NDISTRIBUTIONS> kDistributionText = {"single", "uniform", "gauss", "CB tail",
                                                                   "VB tail"};
const std::array<const char*, NSPATIAL> kSpatialText = {"homogenous", "linear", "exponential"};
const std::array<const char*, NSPATIAL> kSpatialShownText = {"constant", "linear", "exponential"};
const std::array<const char*, NDEFLEVTYPE> kLevelTypeText = {"neutral", "2-/3-", "-/2-", "0/-",
                                                             "+/0",     "2+/+",  "3+/2+"};
const std::array<const char*, NCHARGESTATES> kChargeStateText = {"3-", "2-", "-", "0", "+", "2+", "3+"};
const std::array<const char*, NLAWS> kLawText = {
    "uniform",          "linear",      "parabolic",           "logarithmic",         "exponential",
    "Beta function",    "effective medium", "alpha interpolation", "power law",     "parabolic 2",
    "uniform pure B(y=1)", "uniform y, 0<y<1", "from file",    "table in memory"};

Profile UniformProfile(double value, int dependence) {
  Profile p;
  p.law = LAW_UNIFORM;
  p.dependence = dependence;
  p.p = {value, value, value, 1.0, 1.0, value, value};
  SetProfileScaleParameters(p);
  return p;
}

void SetProfileScaleParameters(Profile& profile) {
  profile.scaleFlag = {0, 0};
  switch (profile.law) {
    case LAW_PARABOLIC: profile.scaleFlag = {1, 1}; break;
    case LAW_EXPONENTIAL: profile.scaleFlag = {1, 0}; break;
    case LAW_PARABOLIC2: profile.scaleFlag = {0, 1}; break;
    default: break;
  }
}

void MakeUniform(Profile& profile, int which) {
  const double v = which == 0 ? profile.p[0] : profile.p[1];
  profile.p[5] = v;
  profile.p[6] = v;
}

void InitialiseOpticalCaptureProperties(OpticalCaptureProperties& p) { p = OpticalCaptureProperties{}; }

void AllocateOpticalCaptureProperties(OpticalCaptureProperties& p, int n) {
  p.sigma.assign(static_cast<std::size_t>(n > 0 ? n : 0), 0.0);
  p.wavelength.assign(static_cast<std::size_t>(n > 0 ? n : 0), 0.0);
}

void CopyOpticalCaptureProperties(OpticalCaptureProperties& dst, const OpticalCaptureProperties& src) { dst = src; }

void FreeOpticalCaptureProperties(OpticalCaptureProperties& p) {
  p.sigma.clear();
  p.sigma.shrink_to_fit();
  p.wavelength.clear();
  p.wavelength.shrink_to_fit();
}

void InitialiseBulkRecombinationParameters(BulkRecombinationParameters& level, int layer, int defect) {
  level = BulkRecombinationParameters{};
  level.layerNumber = layer;
  level.defectNumber = defect;
  level.Nt = UniformProfile(1e20, DEP_UNIFORM);
  level.peakToTotal = DeterminePeakToTotal(level.distribution, level.Ekar);
}

void InitialiseInterfaceRecombinationParameters(InterfaceRecombinationParameters& d, int iface, int defect) {
  d = InterfaceRecombinationParameters{};
  d.interfaceNumber = iface;
  d.defectNumber = defect;
  d.peakToTotal = DeterminePeakToTotal(d.distribution, d.Ekar);
}

void InitialiseMetaStableDefectParameters(MetaStableDefectParameters& m, int layer) {
  m = MetaStableDefectParameters{};
  m.layerNumber = layer;
  m.Nt = UniformProfile(1e20, DEP_POSITION);
}

void InitialiseLayerParameters(LayerParameters& layer, int index) {
  layer = LayerParameters{};
  layer.layernumber = index;
  layer.d = 2e-6;
  layer.chi = UniformProfile(4.5);
  layer.Eg = UniformProfile(1.2);
  layer.Eg.p[2] = 0.5;  // bowing
  layer.eps = UniformProfile(10.0);
  layer.Nc = UniformProfile(1e25);
  layer.Nv = UniformProfile(1e25);
  layer.Nd = UniformProfile(1e21, DEP_UNIFORM);
  layer.Na = UniformProfile(1e21, DEP_UNIFORM);
  layer.mu_n = UniformProfile(0.005);
  layer.mu_n.p[2] = 0.001;
  layer.mu_p = UniformProfile(0.005);
  layer.mu_p.p[2] = 0.001;
  layer.me_rel = UniformProfile(1.0);
  layer.mh_rel = UniformProfile(1.0);
  layer.v_th_n = UniformProfile(1e5);
  layer.v_th_p = UniformProfile(1e5);
  layer.K_rad = UniformProfile(0.0);
  layer.c_n_auger = UniformProfile(0.0);
  layer.c_p_auger = UniformProfile(0.0);
  layer.tunneling = 0;
  layer.absorption = Profile{};
  layer.absorption.law = LAW_UNIFORM;
  layer.absorption.dependence = DEP_COMPOSITION;
  layer.absorption.p = {1200.0, 1200.0, 250.0, 250.0, 0.0, 1.2, 1.2};
  layer.A = {1e7, 1e7};
  layer.B = {0.0, 0.0};
  layer.absorptionModel = {ABS_MODEL_AB, ABS_MODEL_AB};
  layer.absorptionFile = {"", ""};
  for (int m = 0; m < MAXBULKDEFECTS; ++m)
    for (int k = 0; k < MAXLEVELS; ++k) InitialiseBulkRecombinationParameters(layer.srh[m][k], index, m);
  layer.srhteller = 0;
  layer.compositionMode = 0;
  layer.gradingType = 0;
  layer.composition = Profile{};
  layer.composition.law = LAW_UNIFORM;
  layer.composition.dependence = DEP_POSITION;
  layer.composition.p = {0.0, 1.0, 0.0, 1.0, 1.0, 0.0, 1.0};
  layer.initialised = 1;
  for (auto& m : layer.meta) InitialiseMetaStableDefectParameters(m, index);
}

void InitialiseInterfaceParameters(InterfaceParameters& iface, int index) {
  iface = InterfaceParameters{};
  iface.interfaceNumber = index;
  for (int k = 0; k < MAXIFACEDEFECTS; ++k) InitialiseInterfaceRecombinationParameters(iface.ifr[k], index, k);
}

void InitialiseContactParameters(ContactParameters& c, bool left) {
  c = ContactParameters{};
  c.Sn = left ? 1e3 : 1e5;
  c.Sp = left ? 1e5 : 1e3;
}

void InitialiseCellDefinition(CellDefinition& cell) {
  InitialiseContactParameters(cell.leftContact, true);
  InitialiseContactParameters(cell.rightContact, false);
  cell.numberOfLayers = 0;
  for (int l = 0; l < MAXLAYERS; ++l) InitialiseLayerParameters(cell.layer[l], l);
  for (int i = 0; i < MAXINTERFACES; ++i) InitialiseInterfaceParameters(cell.interface[i], i);
}

void InitialiseConvergenceParameters(ConvergenceParameters& c, MottSchottkySettings& ms) {
  c = ConvergenceParameters{};
  ms = MottSchottkySettings{};
}

void InitialiseInputParameters(InputParameters& set, MottSchottkySettings& ms) {
  set.fileName1.clear();
  set.fileName2.clear();
  InitialiseConvergenceParameters(set.convergence, ms);
  InitialiseCellDefinition(set.cellParas);
}

void InitialiseParameterset2(CellDefinition& zonnecel) {
  InputParameters set1;
  InitialiseCellDefinition(set1.cellParas);
  parameterset1_to_2(zonnecel, set1);
}

void CopyCellParameters(CellDefinition& dst, const CellDefinition& src) { dst = src; }
void CopyBulkRecombinationParameters(BulkRecombinationParameters& dst, const BulkRecombinationParameters& src) {
  dst = src;
}
void CopyProfile(Profile& dst, const Profile& src) { dst = src; }

void FreeCellDefinition(CellDefinition& cell) {
  auto freeProfile = [](Profile& p) {
    p.xlist.clear();
    p.values.clear();
  };
  for (auto& layer : cell.layer) {
    for (Profile* p : {&layer.chi, &layer.Eg, &layer.eps, &layer.Nc, &layer.Nv, &layer.Nd, &layer.Na, &layer.mu_n,
                       &layer.mu_p, &layer.me_rel, &layer.mh_rel, &layer.v_th_n, &layer.v_th_p, &layer.K_rad,
                       &layer.c_n_auger, &layer.c_p_auger, &layer.absorption, &layer.composition})
      freeProfile(*p);
    for (auto& defect : layer.srh)
      for (auto& level : defect) {
        freeProfile(level.Nt);
        FreeOpticalCaptureProperties(level.optHoles);
        FreeOpticalCaptureProperties(level.optElectrons);
      }
    for (auto& m : layer.meta) freeProfile(m.Nt);
  }
}

namespace {

// Multiplies every value of a graded property by `factor`.
void ScaleProfile(Profile& p, double factor) {
  p.p[0] *= factor;
  p.p[1] *= factor;
  p.p[5] *= factor;
  p.p[6] *= factor;
  if (p.scaleFlag[0]) p.p[2] *= factor;
  if (p.scaleFlag[1]) p.p[3] *= factor;
  // A table in memory holds values of the property too.
  for (double& v : p.values) v *= factor;
}

// The conversion set 1 -> set 2 multiplies by the factors below; the reverse divides.
// All records are converted, also those beyond the counts in use, so that a layer or
// defect added later shows its defaults in the right units.
void ConvertCell(CellDefinition& cell, bool toSet2) {
  auto f = [toSet2](double factor) { return toSet2 ? factor : 1.0 / factor; };
  for (ContactParameters* c : {&cell.leftContact, &cell.rightContact}) {
    c->Sn *= f(100.0);
    c->Sp *= f(100.0);
  }
  for (auto& layer : cell.layer) {
    layer.d *= f(1e6);
    ScaleProfile(layer.v_th_n, f(100.0));
    ScaleProfile(layer.v_th_p, f(100.0));
    for (Profile* p : {&layer.Nc, &layer.Nv, &layer.Nd, &layer.Na}) ScaleProfile(*p, f(1e-6));
    ScaleProfile(layer.mu_n, f(1e4));
    ScaleProfile(layer.mu_p, f(1e4));
    ScaleProfile(layer.K_rad, f(1e6));
    ScaleProfile(layer.c_n_auger, f(1e12));
    ScaleProfile(layer.c_p_auger, f(1e12));
    for (int m = 0; m < 2; ++m) {
      layer.A[m] *= f(0.01);
      layer.B[m] *= f(0.01);
    }
    for (auto& defect : layer.srh)
      for (auto& level : defect) {
        level.sigma_n *= f(1e4);
        level.sigma_p *= f(1e4);
        for (OpticalCaptureProperties* o : {&level.optHoles, &level.optElectrons})
          for (double& s : o->sigma) s *= f(1e4);
        level.Lkar *= f(1e6);
        level.Nleft *= f(1e-6);
        level.Nright *= f(1e-6);
        ScaleProfile(level.Nt, f(1e-6));
      }
    for (auto& m : layer.meta) {
      m.sigma_acc_n *= f(1e4);
      m.sigma_acc_p *= f(1e4);
      m.sigma_don_n *= f(1e4);
      m.sigma_don_p *= f(1e4);
      ScaleProfile(m.Nt, f(1e-6));
    }
  }
  for (auto& iface : cell.interface)
    for (auto& d : iface.ifr) {
      d.sigma_nleft *= f(1e4);
      d.sigma_nright *= f(1e4);
      d.sigma_pleft *= f(1e4);
      d.sigma_pright *= f(1e4);
      d.N *= f(1e-4);
      d.secondN *= f(1e-4);
    }
}

}  // namespace

void parameterset1_to_2(CellDefinition& set2, const InputParameters& set1) {
  set2 = set1.cellParas;
  ConvertCell(set2, true);
}

void parameterset2_to_1(InputParameters& set1, CellDefinition set2) {
  ConvertCell(set2, false);
  set1.cellParas = std::move(set2);
}

double DeterminePeakToTotal(int distribution, double Ekar) {
  if (distribution == ED_SINGLE) return 1.0;
  if (!(Ekar > 0.0)) return 0.0;
  if (distribution == ED_GAUSS) return 1.0 / (std::sqrt(std::numbers::pi) * Ekar);
  return 1.0 / Ekar;  // uniform and the two tails
}

}  // namespace zoniq
