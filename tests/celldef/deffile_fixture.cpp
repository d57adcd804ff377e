#include "celldef/deffile_fixture.hpp"

namespace zoniq::test {

namespace {

Profile P(int law, int dependence, std::array<double, 7> p, std::string gradingFile = "") {
  Profile r;
  r.law = law, r.dependence = dependence, r.p = p, r.gradingFile = std::move(gradingFile);
  SetProfileScaleParameters(r);
  return r;
}

}  // namespace

void SetDerivedFields(CellDefinition& cell) {
  for (int l = 0; l < cell.numberOfLayers; ++l) {
    LayerParameters& L = cell.layer[l];
    for (int d = 0; d < L.srhteller; ++d) {
      auto& levels = L.srh[d];
      // The reader stores one peak-to-total factor, from the defect's distribution and width,
      // in every level in use.
      for (int k = 0; k < levels[0].numberOfLevels; ++k)
        levels[k].peakToTotal = DeterminePeakToTotal(levels[0].distribution, levels[0].Ekar);
    }
    L.compositionMode = L.composition.law == LAW_UNIFORM_B ? 20 : L.composition.law == LAW_UNIFORM_Y ? 21 : 0;
  }
  for (auto& I : cell.interface)
    for (int d = 0; d < I.numberOfDefects; ++d)
      I.ifr[d].peakToTotal = DeterminePeakToTotal(I.ifr[d].distribution, I.ifr[d].Ekar);
}

InputParameters TwoLayerSet(MottSchottkySettings& ms, DefinitionExtras& extras) {
  InputParameters s;
  InitialiseInputParameters(s, ms);
  extras = DefinitionExtras{};
  ConvergenceParameters& c = s.convergence;
  c.clamp_psi = 0.25, c.clamp_p = 0.75, c.termination_psi = 1e-4, c.termination_Fn = 2e-3, c.termination_Fp = 3e-3;
  c.termination_Meta_full = 1e-2, c.maxmetaiter_full = 100, c.clamp_meta = 0.05, c.usemetaclamping = 1;
  c.maxiter = 400, c.defectdiscretisations = 12, c.widthtail = 8.0, c.widthgauss = 5.0;
  extras.qe = QELightSettings{1, 2e17, 10.0}, extras.mesh = MeshSettings{1, 1.2, 1.05, 0.5, 0.25}, ms.sheetNumber = 2;
  ms.sheetSide = -1, ms.numberOfPoints = 5, ms.orderMiddle = 1, ms.orderEdges = 2, extras.mottSchottky = ms;
  extras.workPoint = DefinitionWorkPointItems{0, 0.05, 0.9, 1, 1e-5, 1, 2e-3};
  extras.remarks = {"ZONIQ old banner Problem definition file",
                    "last saved by ZONIQ: old",
                    "",
                    "Sample cell",
                    "",
                    "",
                    "   indented note"};

  CellDefinition& cell = s.cellParas;
  cell.numberOfLayers = 2;
  ContactParameters& left = cell.leftContact;
  left.flatband = 0, left.recalculate = 0, left.Fi_m = 4.875, left.Sn = 1.5e3, left.Sp = 2e5, left.tunneling = 1;
  left.me_rel = 0.25, left.mh_rel = 0.5, left.filterOn = 1, left.wavelengthIndependent = 1, left.filterKind = 1;
  left.filterValue = 0.95;
  ContactParameters& right = cell.rightContact;
  right.Sn = 1e7, right.Sp = 1e5, right.filterOn = 1, right.wavelengthIndependent = 0, right.filterKind = 0;
  right.filterFile = "sub/front.ftr";

  LayerParameters& L = cell.layer[0];
  L.name = "CdTe absorber", L.d = 3e-6, L.tunneling = 1;
  L.composition = P(LAW_FROM_FILE, DEP_POSITION, {0, 1, 0, 1, 1, 0.25, 0.75}, "folder\\sub/cdte.grad");
  L.Eg = P(LAW_PARABOLIC, DEP_COMPOSITION, {1.5, 1.75, 0.25, 1.25, 0, 1.5, 1.75});
  L.Na = UniformProfile(2e22, DEP_UNIFORM);
  L.Nd = P(LAW_EXPONENTIAL, DEP_POSITION, {1e21, 1e21, 1e20, 1e-7, 2e-7, 1e22, 1e20}), L.A[0] = 2e7, L.B[0] = 1e5;
  L.absorptionModel[1] = ABS_MODEL_FILE, L.absorptionFile[1] = "cds.abs", L.srhteller = 2;
  auto& d1 = L.srh[0];
  d1[0].type = DT_AMPHOTERIC, d1[0].numberOfLevels = 2, d1[0].distribution = ED_GAUSS, d1[0].reference = 1;
  d1[0].Ekar = 0.05, d1[0].correlationFlag = 1, d1[0].Ecor = 0.2, d1[0].degeneracyFlag = 1;
  d1[0].Nt = UniformProfile(1e20, DEP_UNIFORM), d1[0].spatialProfile = SD_LINEAR, d1[0].Lkar = 1e-7;
  d1[0].Nleft = 1e21, d1[0].Nright = 1e19, d1[0].aard = 4, d1[1].aard = 3, d1[0].sigma_n = 1e-19;
  d1[1].sigma_n = 2e-19, d1[0].sigma_p = 3e-19, d1[1].sigma_p = 4e-19, d1[0].Et = 0.4, d1[1].Et = 0.9;
  d1[0].optElectrons.fromFile = 1, d1[0].optElectrons.file = "e1.opt", d1[1].optElectrons.fromModel = 1;
  d1[1].optElectrons.n = 2.5, d1[1].optElectrons.massRatio = 0.5, d1[1].optElectrons.EeffE0 = 1.5;
  d1[1].optElectrons.Emax = 4.0;
  auto& d2 = L.srh[1];
  d2[0].type = DT_ACCEPTOR, d2[0].Nt = P(LAW_LINEAR, DEP_POSITION, {1e20, 1e20, 1e20, 1, 1, 5e19, 2e20});
  d2[0].aard = 3;
  MetaStableDefectParameters& m = L.meta[1];
  m.switchedOn = 1, m.donorDefect = 0, m.acceptorDefect = 1, m.donorChargeState = 4, m.phononFrequency = 5e12;
  m.metastabilityType = 1, m.electronProcess = 1, m.holeProcess = 0, m.givenEact = {0, 0, 1, 0, 1};
  m.sigma_acc_n = 1e-19, m.sigma_acc_p = 2e-19, m.sigma_don_n = 3e-19, m.sigma_don_p = 4e-19, m.Eact_EE = 0.1;
  m.Eact_HC = 0.2, m.Eact_EC = 0.3, m.Eact_HE = 0.4, m.Eact_TR = 0.5, m.reference = 2;
  m.initialAcceptorConfiguration = 0.25;

  InterfaceParameters& I = cell.interface[0];
  I.interfacename = "CdS/CdTe", I.intrabandTunneling = 1, I.me_rel = 0.2, I.mh_rel = 0.8, I.numberOfDefects = 1;
  InterfaceRecombinationParameters& f = I.ifr[0];
  f.type = DT_DONOR, f.sigma_nleft = 1e-19, f.sigma_nright = 2e-19, f.sigma_pleft = 3e-19, f.sigma_pright = 4e-19;
  f.tunneling = 1, f.me_rel = 0.3, f.mh_rel = 0.4, f.distribution = ED_UNIFORM, f.reference = 5, f.Et = 0.55;
  f.Ekar = 0.1, f.N = 1e15;

  cell.layer[1].name = "CdS window", cell.layer[1].d = 5e-8;
  SetDerivedFields(cell);
  return s;
}

InputParameters RichSet(MottSchottkySettings& ms, DefinitionExtras& extras) {
  InputParameters s;
  InitialiseInputParameters(s, ms);
  extras = DefinitionExtras{};
  ConvergenceParameters& c = s.convergence;
  c.clamp_psi = 0.4, c.clamp_p = 0.3, c.clamp_n = 0.2, c.maxiter = 500, c.termination_psi = 2e-4;
  c.termination_Fn = 3e-4, c.termination_Fp = 4e-4, c.termination_Meta_full = 5e-3, c.maxmetaiter_full = 60;
  c.usemetaclamping = 1, c.clamp_meta = 0.02, c.defectdiscretisations = 9, c.widthtail = 6.5, c.widthgauss = 4.5;
  extras.qe = QELightSettings{1, 3.5e17, 12.5}, extras.mesh = MeshSettings{1, 1.3, 1.02, 0.75, 0.125};
  ms.sheetNumber = 4, ms.sheetSide = 1, ms.numberOfPoints = 5, ms.orderMiddle = 1, ms.orderEdges = 2;
  extras.mottSchottky = ms, extras.workPoint = DefinitionWorkPointItems{1, 0.125, 0.875, 1, 2.5e-5, 1, 1.25e-3};
  extras.remarks = {"note 1", "", "", "note 2"};

  CellDefinition& cell = s.cellParas;
  cell.numberOfLayers = 7;
  ContactParameters& left = cell.leftContact;
  left.flatband = 0, left.recalculate = 1, left.Fi_m = 4.6251, left.Sn = 1.234e3, left.Sp = 5.678e5;
  left.tunneling = 1, left.me_rel = 0.1234, left.mh_rel = 0.5678, left.filterOn = 1, left.wavelengthIndependent = 0;
  left.filterKind = 1, left.filterFile = "left.ftr";
  ContactParameters& right = cell.rightContact;
  right.flatband = 0, right.recalculate = 0;
  right.Fi_m = 4.2567;  // four decimals: the front contact keeps the meV too
  right.Sn = 3.5e4, right.Sp = 7.5e2, right.filterOn = 1, right.wavelengthIndependent = 1, right.filterKind = 0;
  right.filterValue = 0.12345678;

  const std::array<double, 7> d = {1e-7, 2.5e-7, 3e-6, 4.5e-8, 1.25e-6, 6e-7, 7.75e-7};
  for (int l = 0; l < 7; ++l) {
    cell.layer[l].name = "layer " + std::to_string(l + 1), cell.layer[l].d = d[l];
  }
  cell.layer[0].name = "a layer name of exactly 39 characters.";  // the longest name a layer holds

  // Every interpolation law appears at least once.
  LayerParameters& L0 = cell.layer[0];
  L0.Eg = P(LAW_LINEAR, DEP_COMPOSITION, {1.1, 1.45, 0.2, 1, 1, 1.1, 1.45});
  L0.chi = P(LAW_PARABOLIC, DEP_COMPOSITION, {4.1, 4.35, 0.125, 4.05, 1, 4.1, 4.35});
  L0.eps = P(LAW_LOGARITHMIC, DEP_COMPOSITION, {9.5, 12.25, 1, 1, 1, 9.5, 12.25});
  L0.Nc = P(LAW_EXPONENTIAL, DEP_COMPOSITION, {2.2e24, 1.8e25, 1e23, 0.3, 0.45, 2.2e24, 1.8e25});
  L0.Nv = P(LAW_BETA, DEP_COMPOSITION, {1.8e25, 1.5e25, 2.5, 3.5, 1, 1.8e25, 1.5e25});
  L0.mu_n = P(LAW_EFFECTIVE_MEDIUM, DEP_COMPOSITION, {1e-2, 2e-3, 1e-3, 1, 1, 1e-2, 2e-3});
  L0.mu_p = P(LAW_ALPHA, DEP_COMPOSITION, {2.5e-3, 1.5e-3, 1e-3, 1, 1, 2.5e-3, 1.5e-3});
  L0.me_rel = P(LAW_POWER, DEP_COMPOSITION, {0.2, 0.35, 1.5, 1, 1, 0.2, 0.35});
  L0.mh_rel = P(LAW_PARABOLIC2, DEP_COMPOSITION, {0.8, 0.6, 0.4, 0.55, 1, 0.8, 0.6});
  L0.composition = P(LAW_UNIFORM_B, DEP_POSITION, {0, 1, 0, 1, 1, 1, 1});
  L0.v_th_n = P(LAW_FROM_FILE, DEP_COMPOSITION, {1.2e5, 2.3e5, 0, 1, 1, 1.2e5, 2.3e5}, "vth.grad");
  L0.K_rad = UniformProfile(1.5e-16, DEP_UNIFORM), L0.c_n_auger = UniformProfile(1e-42, DEP_COMPOSITION);
  L0.c_p_auger = P(LAW_LINEAR, DEP_COMPOSITION, {1e-43, 3e-43, 0, 1, 1, 1e-43, 3e-43});
  L0.Nd = P(LAW_LINEAR, DEP_POSITION, {1e21, 1e21, 1e21, 1, 1, 5e20, 3e22});
  L0.Na = P(LAW_LOGARITHMIC, DEP_COMPOSITION, {1e20, 1e22, 1, 1, 1, 1e20, 1e22});
  L0.absorption = P(LAW_LINEAR, DEP_COMPOSITION, {1100.5, 1250.25, 250, 250, 0, 1.15, 1.5});
  L0.A = {1.5e7, 1e7};  // pure B reads its absorption from a file: its constants stay at their defaults
  L0.B = {2.5e5, 0}, L0.absorptionModel = {ABS_MODEL_AB, ABS_MODEL_FILE}, L0.absorptionFile = {"", "b0.abs"};

  cell.layer[1].composition = P(LAW_UNIFORM_Y, DEP_POSITION, {0, 1, 0, 1, 1, 0.3, 0.7});
  cell.layer[1].absorptionModel = {ABS_MODEL_FILE, ABS_MODEL_AB}, cell.layer[1].absorptionFile = {"a1.abs", ""};
  cell.layer[1].A = {1e7, 3.25e6}, cell.layer[1].B = {0, 1.5e4};
  cell.layer[2].composition = P(LAW_FROM_FILE, DEP_POSITION, {0, 1, 0, 1, 1, 0.125, 0.875}, "comp2.grad");
  cell.layer[3].tunneling = 1, cell.layer[3].me_rel = UniformProfile(0.15, DEP_UNIFORM);
  cell.layer[4].v_th_p = P(LAW_PARABOLIC, DEP_COMPOSITION, {1.5e5, 2e5, 1e4, 1.2e5, 1, 1.5e5, 2e5});

  // Layer 1: seven defects, one to four levels, every distribution and level type.
  L0.srhteller = 7;
  const int levelsOf[7] = {1, 2, 3, 4, 1, 1, 2};
  const int typeOf[7] = {DT_NEUTRAL, DT_AMPHOTERIC, DT_CUSTOM, DT_CUSTOM, DT_ACCEPTOR, DT_DONOR, DT_DOUBLEACCEPTOR};
  const int distOf[7] = {ED_SINGLE, ED_UNIFORM, ED_GAUSS, ED_CBTAIL, ED_VBTAIL, ED_SINGLE, ED_GAUSS};
  const double ekar[7] = {0.0125, 0.025, 0.0375, 0.05, 0.0625, 0.075, 0.0875};
  const double nleft[7] = {1.5e20, 3e20, 4.5e20, 6e20, 7.5e20, 9e20, 1.05e21};
  const double nt[7] = {1e20, 2e20, 3e20, 4e20, 5e20, 6e20, 7e20};
  const double sigmaN[4] = {1.1e-19, 2.2e-19, 3.3e-19, 4.4e-19};
  const double sigmaP[4] = {5.5e-20, 6.6e-20, 7.7e-20, 8.8e-20};
  const double et[4] = {0.125, 0.35, 0.575, 0.8};
  for (int k = 0; k < 7; ++k) {
    auto& lev = L0.srh[k];
    lev[0].type = typeOf[k], lev[0].numberOfLevels = levelsOf[k], lev[0].distribution = distOf[k];
    lev[0].reference = k % 3, lev[0].Ekar = ekar[k], lev[0].Lkar = 2.5e-8, lev[0].Nleft = nleft[k];
    lev[0].Nright = 2e19, lev[0].Nt = UniformProfile(nt[k], DEP_UNIFORM);
    for (int v = 0; v < levelsOf[k]; ++v) {
      lev[v].aard = (k + v) % NDEFLEVTYPE, lev[v].sigma_n = sigmaN[v], lev[v].sigma_p = sigmaP[v], lev[v].Et = et[v];
    }
  }
  L0.srh[2][0].correlationFlag = 1, L0.srh[2][0].Ecor = 0.15, L0.srh[2][0].degeneracyFlag = 1;
  L0.srh[3][0].Nt = P(LAW_FROM_FILE, DEP_POSITION, {1e20, 1e20, 0, 1, 1, 1e19, 1e21}, "nt.grad");
  L0.srh[4][0].Nt = P(LAW_PARABOLIC, DEP_COMPOSITION, {1e20, 3e20, 5e19, 2e19, 1, 1e20, 3e20});
  L0.srh[5][0].spatialProfile = SD_EXPONENTIAL, L0.srh[6][0].spatialProfile = SD_LINEAR;
  // Optical capture: from files and from the model, for both carriers.
  auto& oc = L0.srh[1];
  oc[1].optElectrons.fromFile = 1, oc[1].optElectrons.file = "e2.opt", oc[0].optHoles.fromModel = 1;
  oc[0].optHoles.n = 2.75, oc[0].optHoles.massRatio = 0.45, oc[0].optHoles.EeffE0 = 1.25, oc[0].optHoles.Emax = 3.5;
  auto& oc4 = L0.srh[3];
  for (int v = 0; v < 4; ++v) {
    oc4[v].optElectrons.fromFile = v % 2;
    oc4[v].optElectrons.file = v % 2 ? "level" + std::to_string(v + 1) + ".opt" : "";
    oc4[v].optElectrons.fromModel = v < 2, oc4[v].optElectrons.n = 1.5 + v;
  }
  oc4[0].optHoles.fromFile = 1, oc4[0].optHoles.file = "holes1.opt";

  // Layer 2: two metastable transitions, each between two of its four defects.
  LayerParameters& L1 = cell.layer[1];
  L1.srhteller = 4;
  for (int k = 0; k < 2; ++k) {
    L1.srh[2 * k][0].type = DT_DONOR;
    L1.srh[2 * k][0].aard = 3 + k;
    L1.srh[2 * k + 1][0].type = DT_ACCEPTOR;
    L1.srh[2 * k + 1][0].aard = 2 + k;
  }
  for (int k = 0; k < 2; ++k) {
    MetaStableDefectParameters& m = L1.meta[k];
    m.switchedOn = 1, m.donorDefect = 2 * k, m.acceptorDefect = 2 * k + 1, m.donorChargeState = 3 + k;
    m.phononFrequency = 4.5e12, m.metastabilityType = k, m.electronProcess = k, m.holeProcess = 1 - k;
    m.givenEact = {1, 0, 0, 1, static_cast<unsigned char>(k)}, m.sigma_acc_n = 1.5e-19, m.sigma_acc_p = 2.5e-19;
    m.sigma_don_n = 3.5e-19, m.sigma_don_p = 4.5e-19, m.Eact_EE = 0.125, m.Eact_HC = 0.25, m.Eact_EC = 0.375;
    m.Eact_HE = 0.5, m.Eact_TR = 0.625, m.reference = k + 1, m.initialAcceptorConfiguration = 0.35;
  }
  L1.meta[0].Nt = UniformProfile(2e20, DEP_COMPOSITION);
  L1.meta[1].Nt = P(LAW_FROM_FILE, DEP_POSITION, {1e20, 1e20, 0, 1, 1, 1e19, 1e21}, "meta.grad");
  // Layer 6 keeps one defect, layer 7 one transition that is switched off (not written).
  cell.layer[5].srhteller = 1, cell.layer[5].srh[0][0].type = DT_DOUBLEDONOR;
  cell.layer[5].srh[0][0].sigma_n = 9.99e-18;

  // Interfaces: three defects at the first, none at the second, one at the third.
  InterfaceParameters& I0 = cell.interface[0];
  I0.interfacename = "nineteen characters", I0.intrabandTunneling = 1, I0.me_rel = 0.25, I0.mh_rel = 0.75;
  I0.numberOfDefects = 3;
  const int ifDist[3] = {ED_SINGLE, ED_GAUSS, ED_VBTAIL};
  const int ifRef[3] = {3, 4, 7};
  for (int k = 0; k < 3; ++k) {
    InterfaceRecombinationParameters& f = I0.ifr[k];
    f.type = k == 0 ? DT_NEUTRAL : k == 1 ? DT_ACCEPTOR : DT_DONOR, f.sigma_nleft = 1.25e-19;
    f.sigma_nright = std::array<double, 3>{2.5e-19, 5e-19, 7.5e-19}[k], f.sigma_pleft = 3.75e-19;
    f.sigma_pright = 5.25e-19, f.tunneling = k % 2, f.me_rel = 0.35, f.mh_rel = 0.45, f.distribution = ifDist[k];
    f.reference = ifRef[k], f.Et = std::array<double, 3>{0.25, 0.5, 0.75}[k], f.Ekar = 0.05;
    f.N = std::array<double, 3>{1e14, 2.5e15, 3.75e16}[k];
  }
  cell.interface[2].numberOfDefects = 1, cell.interface[2].ifr[0].distribution = ED_CBTAIL;
  cell.interface[2].ifr[0].reference = 6, cell.interface[2].ifr[0].type = DT_AMPHOTERIC;
  cell.interface[5].interfacename = "last";
  SetDerivedFields(cell);
  return s;
}

}  // namespace zoniq::test
