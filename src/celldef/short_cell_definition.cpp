#include "celldef/short_cell_definition.hpp"

#include <algorithm>

namespace zoniq {

const std::array<const char*, NBP1> kBP1KeyWord = {"left contact",
                                                   "layer 1",
                                                   "layer 2",
                                                   "layer 3",
                                                   "layer 4",
                                                   "layer 5",
                                                   "layer 6",
                                                   "layer 7",
                                                   "interface 1",
                                                   "interface 2",
                                                   "interface 3",
                                                   "interface 4",
                                                   "interface 5",
                                                   "interface 6",
                                                   "right contact",
                                                   "internal Rfront",
                                                   "internal Tfront",
                                                   "T",
                                                   "V",
                                                   "f",
                                                   "Rsh",
                                                   "Rs",
                                                   "Gsh",
                                                   "illumination",
                                                   "initial work"};

const std::array<const char*, NBP2> kBP2KeyWord = {"composition",
                                                   "composition file",
                                                   "thickness",
                                                   "bandgap",
                                                   "electron affinity",
                                                   "dielectric permittivity",
                                                   "NC",
                                                   "NV",
                                                   "vth_n",
                                                   "vth_p",
                                                   "mu n",
                                                   "mu p",
                                                   "C radiative",
                                                   "C Auger_n",
                                                   "C Auger_p",
                                                   "ND",
                                                   "NA",
                                                   "pureA absorption constant A",
                                                   "pureA absorption constant B",
                                                   "pureB absorption constant A",
                                                   "pureB absorption constant B",
                                                   "pureA absorption file",
                                                   "pureB absorption file",
                                                   "absorption interpolation",
                                                   "S_n",
                                                   "S_p",
                                                   "Workfunction",
                                                   "filter R or T",
                                                   "filter (1-T) or (1-R)",
                                                   "filter file",
                                                   "Intra-band tunneling at IF off/on",
                                                   "Rel. Mass Electrons at IF",
                                                   "Rel. Mass Holes at IF",
                                                   "illumination off/on",
                                                   "illuminationleft/right",
                                                   "illumination filter_ND",
                                                   "illumination filter_T",
                                                   "spectrum cutoff",
                                                   "spectrum file",
                                                   "generation file",
                                                   "attenuation filter_T",
                                                   "monochromator",
                                                   "QE left/right",
                                                   "defect 1",
                                                   "defect 2",
                                                   "defect 3",
                                                   "defect 4",
                                                   "defect 5",
                                                   "defect 6",
                                                   "defect 7",
                                                   "interface defect 1",
                                                   "interface defect 2",
                                                   "interface defect 3",
                                                   "metastable transition 1",
                                                   "metastable transition 2",
                                                   "Rel. Mass Elect. at contact",
                                                   "Rel. Mass Holes at contact",
                                                   "Intra-band tunneling at contact off/on",
                                                   "Rel. Mass Elect. in layer",
                                                   "Rel. Mass Holes in layer",
                                                   "Intra-band tunneling in layer off/on"};

const std::array<const char*, NBP3> kBP3KeyWord = {"Nt total",
                                                   "Nt peak",
                                                   "sigma_n",
                                                   "sigma_p\t",
                                                   "energy level Et",
                                                   "characteristic energy Ekar",
                                                   "optical sigma_n file",
                                                   "optical sigma_p file",
                                                   "Luckuvsky n_e",
                                                   "Luckuvsky n_h",
                                                   "Luckovsky m_e",
                                                   "Luckovsky m_h",
                                                   "Luckovsky eff field ratio_e",
                                                   "Luckovsky eff field ratio_h",
                                                   "Luckovsky cutoff E_e",
                                                   "Luckovsky cutoff E_h",
                                                   "cutoff off/on",
                                                   "short lambda",
                                                   "long lambda",
                                                   "photon flux",
                                                   "photon power",
                                                   "IF Nt total",
                                                   "IF Nt peak",
                                                   "IF sigma_n",
                                                   "IF sigma_p\t",
                                                   "IF energylevel Et",
                                                   "IF characteristic energy Ekar",
                                                   "tunneling IF-traps off/on",
                                                   "m_e",
                                                   "m_h",
                                                   "Meta allow",
                                                   "Meta E EE",
                                                   "Meta E HC",
                                                   "Meta E EC",
                                                   "Meta E HE",
                                                   "Meta E TR",
                                                   "Meta Nt total"};

const std::array<const char*, NBP4> kBP4KeyWord = {
    "pure A material",     "pure B material",   "profile parameter 3", "profile parameter 4",
    "profile parameter 5", "left side",         "right side",          "level 1 of defect",
    "level 2 of defect",   "level 3 of defect", "level 4 of defect",   "measurement workpoint",
    "initial workpoint"};

namespace {

ShortProfile ShortOf(const Profile& p) { return ShortProfile{p.law, p.dependence}; }

int Clamp(int v, int lo, int hi) { return std::clamp(v, lo, hi); }

}  // namespace

void LongToShortCellDefinition(const CellDefinition& cell, ShortCellDefinition& s) {
  s = ShortCellDefinition{};
  s.numberOfLayers = Clamp(cell.numberOfLayers, 0, MAXLAYERS);
  auto contact = [](const ContactParameters& c) {
    return ShortContact{c.flatband, c.recalculate, c.filterOn, c.wavelengthIndependent, c.tunneling};
  };
  s.leftContact = contact(cell.leftContact);
  s.rightContact = contact(cell.rightContact);
  for (int l = 0; l < MAXLAYERS; ++l) {
    const LayerParameters& L = cell.layer[static_cast<std::size_t>(l)];
    ShortLayer& S = s.layer[static_cast<std::size_t>(l)];
    S.chi = ShortOf(L.chi);
    S.Eg = ShortOf(L.Eg);
    S.eps = ShortOf(L.eps);
    S.Nc = ShortOf(L.Nc);
    S.Nv = ShortOf(L.Nv);
    S.Nd = ShortOf(L.Nd);
    S.Na = ShortOf(L.Na);
    S.mu_n = ShortOf(L.mu_n);
    S.mu_p = ShortOf(L.mu_p);
    S.me_rel = ShortOf(L.me_rel);
    S.mh_rel = ShortOf(L.mh_rel);
    S.v_th_n = ShortOf(L.v_th_n);
    S.v_th_p = ShortOf(L.v_th_p);
    S.K_rad = ShortOf(L.K_rad);
    S.c_n_auger = ShortOf(L.c_n_auger);
    S.c_p_auger = ShortOf(L.c_p_auger);
    S.absorption = ShortOf(L.absorption);
    S.composition = ShortOf(L.composition);
    S.numberOfDefects = Clamp(L.srhteller, 0, MAXBULKDEFECTS);
    S.absorptionModel = L.absorptionModel;
    S.tunneling = L.tunneling;
    for (int m = 0; m < MAXMETATRANSITIONS; ++m) {
      S.metaOn[static_cast<std::size_t>(m)] = L.meta[static_cast<std::size_t>(m)].switchedOn;
      S.metaNt[static_cast<std::size_t>(m)] = ShortOf(L.meta[static_cast<std::size_t>(m)].Nt);
    }
    for (int d = 0; d < MAXBULKDEFECTS; ++d) {
      const auto& levels = L.srh[static_cast<std::size_t>(d)];
      ShortDefect& D = S.defect[static_cast<std::size_t>(d)];
      D.numberOfLevels = Clamp(levels[0].numberOfLevels, 1, MAXLEVELS);
      D.distribution = levels[0].distribution;
      D.Nt = ShortOf(levels[0].Nt);
      for (int k = 0; k < D.numberOfLevels; ++k) {
        const BulkRecombinationParameters& lev = levels[static_cast<std::size_t>(k)];
        D.opticalElectronsFile |= lev.optElectrons.fromFile ? 1 : 0;
        D.opticalHolesFile |= lev.optHoles.fromFile ? 1 : 0;
        D.opticalElectronsModel |= lev.optElectrons.fromModel ? 1 : 0;
        D.opticalHolesModel |= lev.optHoles.fromModel ? 1 : 0;
      }
    }
  }
  for (int i = 0; i < MAXINTERFACES; ++i) {
    const InterfaceParameters& I = cell.interface[static_cast<std::size_t>(i)];
    ShortInterface& S = s.interface[static_cast<std::size_t>(i)];
    S.numberOfDefects = Clamp(I.numberOfDefects, 0, MAXIFACEDEFECTS);
    S.hasName = I.interfacename.empty() ? 0 : 1;
    S.tunneling = I.intrabandTunneling;
    for (int d = 0; d < MAXIFACEDEFECTS; ++d)
      S.defect[static_cast<std::size_t>(d)] = ShortInterfaceDefect{I.ifr[static_cast<std::size_t>(d)].distribution,
                                                                   I.ifr[static_cast<std::size_t>(d)].tunneling};
  }
}

void InitialiseShortCellDefinition(ShortCellDefinition& shortDef) {
  CellDefinition cell;
  InitialiseCellDefinition(cell);
  LongToShortCellDefinition(cell, shortDef);
}

int isAvailable(const AvailableCodes& codes, int code) {
  for (int i = 0; i < codes.count; ++i)
    if (codes.code[static_cast<std::size_t>(i)] == code) return 1;
  return 0;
}

namespace {

bool IsLayer(const ShortCellDefinition& s, int label1) {
  return label1 >= BP1_LAYER_1 && label1 <= BP1_LAYER_7 && label1 - BP1_LAYER_1 < s.numberOfLayers;
}
bool IsInterface(const ShortCellDefinition& s, int label1) {
  return label1 >= BP1_INTERFACE_1 && label1 <= BP1_INTERFACE_6 && label1 - BP1_INTERFACE_1 < s.numberOfLayers - 1;
}
bool IsContact(int label1) { return label1 == BP1_LEFT_CONTACT || label1 == BP1_RIGHT_CONTACT; }

const ShortLayer* LayerOf(const ShortCellDefinition& s, int label1) {
  return IsLayer(s, label1) ? &s.layer[static_cast<std::size_t>(label1 - BP1_LAYER_1)] : nullptr;
}
const ShortInterface* InterfaceOf(const ShortCellDefinition& s, int label1) {
  return IsInterface(s, label1) ? &s.interface[static_cast<std::size_t>(label1 - BP1_INTERFACE_1)] : nullptr;
}
const ShortDefect* DefectOf(const ShortCellDefinition& s, int label1, int label2) {
  const ShortLayer* L = LayerOf(s, label1);
  if (!L || label2 < BP2_DEFECT_1 || label2 > BP2_DEFECT_7) return nullptr;
  const int d = label2 - BP2_DEFECT_1;
  return d < L->numberOfDefects ? &L->defect[static_cast<std::size_t>(d)] : nullptr;
}
const ShortInterfaceDefect* InterfaceDefectOf(const ShortCellDefinition& s, int label1, int label2) {
  const ShortInterface* I = InterfaceOf(s, label1);
  if (!I || label2 < BP2_INTERFACE_DEFECT_1 || label2 > BP2_INTERFACE_DEFECT_3) return nullptr;
  const int d = label2 - BP2_INTERFACE_DEFECT_1;
  return d < I->numberOfDefects ? &I->defect[static_cast<std::size_t>(d)] : nullptr;
}
// A metastable transition needs two bulk defects of its layer for its two configurations.
int MetaOf(const ShortCellDefinition& s, int label1, int label2) {
  const ShortLayer* L = LayerOf(s, label1);
  if (!L || L->numberOfDefects < 2) return -1;
  if (label2 == BP2_METASTABLE_TRANSITION_1) return 0;
  if (label2 == BP2_METASTABLE_TRANSITION_2) return 1;
  return -1;
}

// The graded property of a layer that a label-2 code names, or nullptr.
const ShortProfile* LayerProfile(const ShortLayer& L, int label2) {
  switch (label2) {
    case BP2_COMPOSITION:
      return &L.composition;
    case BP2_BANDGAP:
      return &L.Eg;
    case BP2_ELECTRON_AFFINITY:
      return &L.chi;
    case BP2_DIELECTRIC_PERMITTIVITY:
      return &L.eps;
    case BP2_NC:
      return &L.Nc;
    case BP2_NV:
      return &L.Nv;
    case BP2_VTH_N:
      return &L.v_th_n;
    case BP2_VTH_P:
      return &L.v_th_p;
    case BP2_MU_N:
      return &L.mu_n;
    case BP2_MU_P:
      return &L.mu_p;
    case BP2_C_RADIATIVE:
      return &L.K_rad;
    case BP2_C_AUGER_N:
      return &L.c_n_auger;
    case BP2_C_AUGER_P:
      return &L.c_p_auger;
    case BP2_ND:
      return &L.Nd;
    case BP2_NA:
      return &L.Na;
    case BP2_ABSORPTION_INTERPOLATION:
      return &L.absorption;
    case BP2_REL_MASS_ELECT_IN_LAYER:
      return &L.me_rel;
    case BP2_REL_MASS_HOLES_IN_LAYER:
      return &L.mh_rel;
    default:
      return nullptr;
  }
}

// The parts of a graded property that its dependence and law use: the end values (pure A/B
// for composition dependence, left/right for position dependence, one value when uniform) and
// the law parameters p2..p4 ("profile parameter 3..5").
void AddProfileParts(AvailableCodes& out, const ShortProfile& p) {
  if (p.dependence == DEP_POSITION) {
    if (p.law != LAW_UNIFORM_B) out.Add(BP4_LEFT_SIDE);
    if (p.law != LAW_UNIFORM) out.Add(BP4_RIGHT_SIDE);
  } else if (p.dependence == DEP_COMPOSITION) {
    if (p.law != LAW_UNIFORM_B) out.Add(BP4_PURE_A_MATERIAL);
    if (p.law != LAW_UNIFORM) out.Add(BP4_PURE_B_MATERIAL);
  } else {
    out.Add(BP4_PURE_A_MATERIAL);
  }
  switch (p.law) {
    case LAW_PARABOLIC:
    case LAW_BETA:
    case LAW_PARABOLIC2:
      out.Add(BP4_PROFILE_PARAMETER_3);
      out.Add(BP4_PROFILE_PARAMETER_4);
      break;
    case LAW_EXPONENTIAL:
      out.Add(BP4_PROFILE_PARAMETER_3);
      out.Add(BP4_PROFILE_PARAMETER_4);
      out.Add(BP4_PROFILE_PARAMETER_5);
      break;
    case LAW_POWER:
      out.Add(BP4_PROFILE_PARAMETER_3);
      break;
    default:
      break;
  }
}

void NihilWhenEmpty(AvailableCodes& out) {
  if (out.count == 0) out.Add(BP_NIHIL);
}

}  // namespace

AvailableCodes AvailableLabel1Codes(const ShortCellDefinition& s) {
  AvailableCodes out;
  out.Add(BP1_LEFT_CONTACT);
  for (int l = 0; l < s.numberOfLayers && l < MAXLAYERS; ++l) out.Add(BP1_LAYER_1 + l);
  for (int i = 0; i < s.numberOfLayers - 1 && i < MAXINTERFACES; ++i) out.Add(BP1_INTERFACE_1 + i);
  for (int c = BP1_RIGHT_CONTACT; c < NBP1; ++c) out.Add(c);
  return out;
}

AvailableCodes AvailableLabel2Codes(const ShortCellDefinition& s, int label1) {
  AvailableCodes out;
  if (!isAvailable(AvailableLabel1Codes(s), label1)) return out;
  if (IsContact(label1)) {
    const ShortContact& c = label1 == BP1_LEFT_CONTACT ? s.leftContact : s.rightContact;
    out.Add(BP2_S_N);
    out.Add(BP2_S_P);
    if (c.flatband == 0) out.Add(BP2_WORKFUNCTION);
    if (c.filterOn && c.wavelengthIndependent) {
      out.Add(BP2_FILTER_R_OR_T);
      out.Add(BP2_FILTER_1_MINUS_T_OR_1_MINUS_R);
    }
    if (c.filterOn && !c.wavelengthIndependent) out.Add(BP2_FILTER_FILE);
    if (c.tunneling) {
      out.Add(BP2_REL_MASS_ELECT_AT_CONTACT);
      out.Add(BP2_REL_MASS_HOLES_AT_CONTACT);
    }
    out.Add(BP2_INTRABAND_TUNNELING_AT_CONTACT);
  } else if (const ShortLayer* L = LayerOf(s, label1)) {
    out.Add(BP2_COMPOSITION);
    if (L->composition.law == LAW_FROM_FILE) out.Add(BP2_COMPOSITION_FILE);
    for (int c = BP2_THICKNESS; c <= BP2_NA; ++c) out.Add(c);
    if (L->absorptionModel[0] == ABS_MODEL_AB) {
      out.Add(BP2_PUREA_ABSORPTION_CONSTANT_A);
      out.Add(BP2_PUREA_ABSORPTION_CONSTANT_B);
    }
    if (L->absorptionModel[1] == ABS_MODEL_AB) {
      out.Add(BP2_PUREB_ABSORPTION_CONSTANT_A);
      out.Add(BP2_PUREB_ABSORPTION_CONSTANT_B);
    }
    if (L->absorptionModel[0] == ABS_MODEL_FILE) out.Add(BP2_PUREA_ABSORPTION_FILE);
    if (L->absorptionModel[1] == ABS_MODEL_FILE) out.Add(BP2_PUREB_ABSORPTION_FILE);
    out.Add(BP2_ABSORPTION_INTERPOLATION);
    for (int d = 0; d < L->numberOfDefects; ++d) out.Add(BP2_DEFECT_1 + d);
    if (L->numberOfDefects >= 2) {
      out.Add(BP2_METASTABLE_TRANSITION_1);
      out.Add(BP2_METASTABLE_TRANSITION_2);
    }
    if (L->tunneling) {
      out.Add(BP2_REL_MASS_ELECT_IN_LAYER);
      out.Add(BP2_REL_MASS_HOLES_IN_LAYER);
    }
    out.Add(BP2_INTRABAND_TUNNELING_IN_LAYER);
  } else if (const ShortInterface* I = InterfaceOf(s, label1)) {
    out.Add(BP2_INTRABAND_TUNNELING_AT_IF);
    if (I->tunneling) {
      out.Add(BP2_REL_MASS_ELECTRONS_AT_IF);
      out.Add(BP2_REL_MASS_HOLES_AT_IF);
    }
    for (int d = 0; d < I->numberOfDefects; ++d) out.Add(BP2_INTERFACE_DEFECT_1 + d);
  } else if (label1 == BP1_ILLUMINATION) {
    for (int c = BP2_ILLUMINATION_OFF_ON; c <= BP2_QE_LEFT_RIGHT; ++c) out.Add(c);
  }
  NihilWhenEmpty(out);
  return out;
}

AvailableCodes AvailableLabel3Codes(const ShortCellDefinition& s, int label1, int label2) {
  AvailableCodes out;
  if (!isAvailable(AvailableLabel2Codes(s, label1), label2)) return out;
  if (const ShortDefect* D = DefectOf(s, label1, label2)) {
    const bool distributed = D->distribution != ED_SINGLE;
    out.Add(BP3_NT_TOTAL);
    if (distributed) out.Add(BP3_NT_PEAK);
    out.Add(BP3_SIGMA_N);
    out.Add(BP3_SIGMA_P);
    out.Add(BP3_ENERGY_LEVEL_ET);
    if (distributed) out.Add(BP3_CHARACTERISTIC_ENERGY_EKAR);
    if (D->opticalElectronsFile) out.Add(BP3_OPTICAL_SIGMA_N_FILE);
    if (D->opticalHolesFile) out.Add(BP3_OPTICAL_SIGMA_P_FILE);
    if (D->opticalElectronsModel) {
      out.Add(BP3_LUCOVSKY_N_E);
      out.Add(BP3_LUCOVSKY_M_E);
      out.Add(BP3_LUCOVSKY_EFF_FIELD_RATIO_E);
      out.Add(BP3_LUCOVSKY_CUTOFF_E_E);
    }
    if (D->opticalHolesModel) {
      out.Add(BP3_LUCOVSKY_N_H);
      out.Add(BP3_LUCOVSKY_M_H);
      out.Add(BP3_LUCOVSKY_EFF_FIELD_RATIO_H);
      out.Add(BP3_LUCOVSKY_CUTOFF_E_H);
    }
  } else if (const ShortInterfaceDefect* F = InterfaceDefectOf(s, label1, label2)) {
    const bool distributed = F->distribution != ED_SINGLE;
    out.Add(BP3_IF_NT_TOTAL);
    if (distributed) out.Add(BP3_IF_NT_PEAK);
    out.Add(BP3_IF_SIGMA_N);
    out.Add(BP3_IF_SIGMA_P);
    out.Add(BP3_IF_ENERGYLEVEL_ET);
    if (distributed) out.Add(BP3_IF_CHARACTERISTIC_ENERGY_EKAR);
    out.Add(BP3_TUNNELING_IF_TRAPS);
    if (F->tunneling) {
      out.Add(BP3_M_E);
      out.Add(BP3_M_H);
    }
  } else if (const int m = MetaOf(s, label1, label2); m >= 0) {
    out.Add(BP3_META_ALLOW);
    if (LayerOf(s, label1)->metaOn[static_cast<std::size_t>(m)])
      for (int c = BP3_META_E_EE; c <= BP3_META_NT_TOTAL; ++c) out.Add(c);
  } else if (label1 == BP1_ILLUMINATION && label2 == BP2_SPECTRUM_CUTOFF) {
    out.Add(BP3_CUTOFF_OFF_ON);
    out.Add(BP3_SHORT_LAMBDA);
    out.Add(BP3_LONG_LAMBDA);
  } else if (label1 == BP1_ILLUMINATION && label2 == BP2_MONOCHROMATOR) {
    out.Add(BP3_PHOTON_FLUX);
    out.Add(BP3_PHOTON_POWER);
  }
  NihilWhenEmpty(out);
  return out;
}

AvailableCodes AvailableLabel4Codes(const ShortCellDefinition& s, int label1, int label2, int label3) {
  AvailableCodes out;
  if (!isAvailable(AvailableLabel3Codes(s, label1, label2), label3)) return out;
  if (label1 == BP1_T || label1 == BP1_V || label1 == BP1_ILLUMINATION) {
    out.Add(BP4_MEASUREMENT_WORKPOINT);
    out.Add(BP4_INITIAL_WORKPOINT);
  } else if (const ShortDefect* D = DefectOf(s, label1, label2)) {
    switch (label3) {
      case BP3_NT_TOTAL:
      case BP3_NT_PEAK:
        AddProfileParts(out, D->Nt);
        break;
      case BP3_CHARACTERISTIC_ENERGY_EKAR:
        break;  // one value for the whole defect
      default:
        // per-level quantities: cross sections, energies, optical capture
        for (int k = 0; k < D->numberOfLevels && k < MAXLEVELS; ++k) out.Add(BP4_LEVEL_1_OF_DEFECT + k);
        break;
    }
  } else if (const int m = MetaOf(s, label1, label2); m >= 0) {
    if (label3 == BP3_META_NT_TOTAL) AddProfileParts(out, LayerOf(s, label1)->metaNt[static_cast<std::size_t>(m)]);
  } else if (const ShortLayer* L = LayerOf(s, label1)) {
    if (const ShortProfile* p = LayerProfile(*L, label2)) AddProfileParts(out, *p);
  }
  NihilWhenEmpty(out);
  return out;
}

namespace {
int OfferedBy(const ShortCellDefinition& s, int c1, int c2, int c3, int c4) {
  return isAvailable(AvailableLabel1Codes(s), c1) && isAvailable(AvailableLabel2Codes(s, c1), c2) &&
                 isAvailable(AvailableLabel3Codes(s, c1, c2), c3) &&
                 isAvailable(AvailableLabel4Codes(s, c1, c2, c3), c4)
             ? 1
             : 0;
}
}  // namespace

int CheckAvailability(const ShortCellDefinition& current, int allFiles, std::span<const ShortCellDefinition> batchFiles,
                      int label1, int label2, int label3, int label4) {
  if (!OfferedBy(current, label1, label2, label3, label4)) return 0;
  if (allFiles)
    for (const ShortCellDefinition& s : batchFiles)
      if (!OfferedBy(s, label1, label2, label3, label4)) return 0;
  return 1;
}

}  // namespace zoniq
