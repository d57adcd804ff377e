// The short cell definition: which parts and modes a cell uses (layers, defects, levels,
// interfaces, laws, switches), without the values. The batch, the recorder and the curve
// fitter use it to decide which parameters exist in a cell, also for definition files that are
// not loaded, through the four labels that name a varied quantity from the general to the
// specific (where, what, which property, which part).
#pragma once

#include <array>
#include <span>

#include "celldef/cell_definition.hpp"

namespace zoniq {

// ---- the four label vocabularies; -1 is "nihil" (not used) in each ----

inline constexpr int BP_NIHIL = -1;
inline constexpr const char* kBPNihilKeyWord = "nihil";

// Label 1: where.
enum BP1Constant {
  BP1_NIHIL = BP_NIHIL,
  BP1_LEFT_CONTACT = 0,
  BP1_LAYER_1,
  BP1_LAYER_2,
  BP1_LAYER_3,
  BP1_LAYER_4,
  BP1_LAYER_5,
  BP1_LAYER_6,
  BP1_LAYER_7,
  BP1_INTERFACE_1,
  BP1_INTERFACE_2,
  BP1_INTERFACE_3,
  BP1_INTERFACE_4,
  BP1_INTERFACE_5,
  BP1_INTERFACE_6,
  BP1_RIGHT_CONTACT,
  BP1_INTERNAL_RFRONT,
  BP1_INTERNAL_TFRONT,
  BP1_T,
  BP1_V,
  BP1_F,
  BP1_RSH,
  BP1_RS,
  BP1_GSH,
  BP1_ILLUMINATION,
  BP1_INITIAL_WORK,
  NBP1
};

// Label 2: what.
enum BP2Constant {
  BP2_NIHIL = BP_NIHIL,
  BP2_COMPOSITION = 0,
  BP2_COMPOSITION_FILE,
  BP2_THICKNESS,
  BP2_BANDGAP,
  BP2_ELECTRON_AFFINITY,
  BP2_DIELECTRIC_PERMITTIVITY,
  BP2_NC,
  BP2_NV,
  BP2_VTH_N,
  BP2_VTH_P,
  BP2_MU_N,
  BP2_MU_P,
  BP2_C_RADIATIVE,
  BP2_C_AUGER_N,
  BP2_C_AUGER_P,
  BP2_ND,
  BP2_NA,
  BP2_PUREA_ABSORPTION_CONSTANT_A,
  BP2_PUREA_ABSORPTION_CONSTANT_B,
  BP2_PUREB_ABSORPTION_CONSTANT_A,
  BP2_PUREB_ABSORPTION_CONSTANT_B,
  BP2_PUREA_ABSORPTION_FILE,
  BP2_PUREB_ABSORPTION_FILE,
  BP2_ABSORPTION_INTERPOLATION,
  BP2_S_N,
  BP2_S_P,
  BP2_WORKFUNCTION,
  BP2_FILTER_R_OR_T,
  BP2_FILTER_1_MINUS_T_OR_1_MINUS_R,
  BP2_FILTER_FILE,
  BP2_INTRABAND_TUNNELING_AT_IF,
  BP2_REL_MASS_ELECTRONS_AT_IF,
  BP2_REL_MASS_HOLES_AT_IF,
  BP2_ILLUMINATION_OFF_ON,
  BP2_ILLUMINATION_LEFT_RIGHT,
  BP2_ILLUMINATION_FILTER_ND,
  BP2_ILLUMINATION_FILTER_T,
  BP2_SPECTRUM_CUTOFF,
  BP2_SPECTRUM_FILE,
  BP2_GENERATION_FILE,
  BP2_ATTENUATION_FILTER_T,
  BP2_MONOCHROMATOR,
  BP2_QE_LEFT_RIGHT,
  BP2_DEFECT_1,
  BP2_DEFECT_2,
  BP2_DEFECT_3,
  BP2_DEFECT_4,
  BP2_DEFECT_5,
  BP2_DEFECT_6,
  BP2_DEFECT_7,
  BP2_INTERFACE_DEFECT_1,
  BP2_INTERFACE_DEFECT_2,
  BP2_INTERFACE_DEFECT_3,
  BP2_METASTABLE_TRANSITION_1,
  BP2_METASTABLE_TRANSITION_2,
  BP2_REL_MASS_ELECT_AT_CONTACT,
  BP2_REL_MASS_HOLES_AT_CONTACT,
  BP2_INTRABAND_TUNNELING_AT_CONTACT,
  BP2_REL_MASS_ELECT_IN_LAYER,
  BP2_REL_MASS_HOLES_IN_LAYER,
  BP2_INTRABAND_TUNNELING_IN_LAYER,
  NBP2
};

// Label 3: which property of a defect, interface defect, metastable transition or light setting.
enum BP3Constant {
  BP3_NIHIL = BP_NIHIL,
  BP3_NT_TOTAL = 0,
  BP3_NT_PEAK,
  BP3_SIGMA_N,
  BP3_SIGMA_P,
  BP3_ENERGY_LEVEL_ET,
  BP3_CHARACTERISTIC_ENERGY_EKAR,
  BP3_OPTICAL_SIGMA_N_FILE,
  BP3_OPTICAL_SIGMA_P_FILE,
  BP3_LUCOVSKY_N_E,
  BP3_LUCOVSKY_N_H,
  BP3_LUCOVSKY_M_E,
  BP3_LUCOVSKY_M_H,
  BP3_LUCOVSKY_EFF_FIELD_RATIO_E,
  BP3_LUCOVSKY_EFF_FIELD_RATIO_H,
  BP3_LUCOVSKY_CUTOFF_E_E,
  BP3_LUCOVSKY_CUTOFF_E_H,
  BP3_CUTOFF_OFF_ON,
  BP3_SHORT_LAMBDA,
  BP3_LONG_LAMBDA,
  BP3_PHOTON_FLUX,
  BP3_PHOTON_POWER,
  BP3_IF_NT_TOTAL,
  BP3_IF_NT_PEAK,
  BP3_IF_SIGMA_N,
  BP3_IF_SIGMA_P,
  BP3_IF_ENERGYLEVEL_ET,
  BP3_IF_CHARACTERISTIC_ENERGY_EKAR,
  BP3_TUNNELING_IF_TRAPS,
  BP3_M_E,
  BP3_M_H,
  BP3_META_ALLOW,
  BP3_META_E_EE,
  BP3_META_E_HC,
  BP3_META_E_EC,
  BP3_META_E_HE,
  BP3_META_E_TR,
  BP3_META_NT_TOTAL,
  NBP3
};

// Label 4: which part (material, profile parameter, side, level, working point).
enum BP4Constant {
  BP4_NIHIL = BP_NIHIL,
  BP4_PURE_A_MATERIAL = 0,
  BP4_PURE_B_MATERIAL,
  BP4_PROFILE_PARAMETER_3,
  BP4_PROFILE_PARAMETER_4,
  BP4_PROFILE_PARAMETER_5,
  BP4_LEFT_SIDE,
  BP4_RIGHT_SIDE,
  BP4_LEVEL_1_OF_DEFECT,
  BP4_LEVEL_2_OF_DEFECT,
  BP4_LEVEL_3_OF_DEFECT,
  BP4_LEVEL_4_OF_DEFECT,
  BP4_MEASUREMENT_WORKPOINT,
  BP4_INITIAL_WORKPOINT,
  NBP4
};

// The keyword of each code as files store it (index = code; "nihil" is kBPNihilKeyWord).
extern const std::array<const char*, NBP1> kBP1KeyWord;
extern const std::array<const char*, NBP2> kBP2KeyWord;
extern const std::array<const char*, NBP3> kBP3KeyWord;
extern const std::array<const char*, NBP4> kBP4KeyWord;

// At most this many codes are offered at each label (nihil included).
inline constexpr int kMaxCellLevelCodes = 30;
inline constexpr int kMaxLayerLevelCodes = 65;
inline constexpr int kMaxDefectLevelCodes = 45;
inline constexpr int kMaxLevelLevelCodes = 15;
static_assert(NBP1 + 1 <= kMaxCellLevelCodes && NBP2 + 1 <= kMaxLayerLevelCodes && NBP3 + 1 <= kMaxDefectLevelCodes &&
              NBP4 + 1 <= kMaxLevelLevelCodes);

// ---- the short cell definition ----

struct ShortProfile {
  int law = LAW_UNIFORM;
  int dependence = DEP_COMPOSITION;
  bool operator==(const ShortProfile&) const = default;
};

struct ShortContact {
  int flatband = 1;
  int recalculate = 1;
  int filterOn = 0;
  int wavelengthIndependent = 0;
  int tunneling = 0;
  bool operator==(const ShortContact&) const = default;
};

struct ShortDefect {
  int numberOfLevels = 1;
  int distribution = ED_SINGLE;
  ShortProfile Nt;
  // 1 when a level in use has optical capture data from a file / from the model.
  int opticalElectronsFile = 0, opticalHolesFile = 0;
  int opticalElectronsModel = 0, opticalHolesModel = 0;
  bool operator==(const ShortDefect&) const = default;
};

struct ShortLayer {
  ShortProfile chi, Eg, eps, Nc, Nv, Nd, Na, mu_n, mu_p, me_rel, mh_rel, v_th_n, v_th_p, K_rad, c_n_auger, c_p_auger,
      absorption, composition;
  int numberOfDefects = 0;
  std::array<int, 2> absorptionModel{ABS_MODEL_AB, ABS_MODEL_AB};
  int tunneling = 0;
  std::array<int, MAXMETATRANSITIONS> metaOn{};
  std::array<ShortProfile, MAXMETATRANSITIONS> metaNt{};
  std::array<ShortDefect, MAXBULKDEFECTS> defect{};
  bool operator==(const ShortLayer&) const = default;
};

struct ShortInterfaceDefect {
  int distribution = ED_SINGLE;
  int tunneling = 0;
  bool operator==(const ShortInterfaceDefect&) const = default;
};

struct ShortInterface {
  int numberOfDefects = 0;
  int hasName = 0;
  int tunneling = 0;
  std::array<ShortInterfaceDefect, MAXIFACEDEFECTS> defect{};
  bool operator==(const ShortInterface&) const = default;
};

struct ShortCellDefinition {
  int numberOfLayers = 0;
  ShortContact leftContact, rightContact;
  std::array<ShortLayer, MAXLAYERS> layer{};
  std::array<ShortInterface, MAXINTERFACES> interface {};
  bool operator==(const ShortCellDefinition&) const = default;
};

// The short definition of a newly initialised cell.
void InitialiseShortCellDefinition(ShortCellDefinition& shortDef);
// The short definition of `cell` (either parameter set: only laws, counts and switches count).
void LongToShortCellDefinition(const CellDefinition& cell, ShortCellDefinition& shortDef);

// ---- which codes a cell offers ----

// A list of offered codes; capacity that of the largest label.
struct AvailableCodes {
  std::array<int, kMaxLayerLevelCodes> code{};
  int count = 0;
  void Add(int c) {
    if (count < static_cast<int>(code.size())) code[static_cast<std::size_t>(count++)] = c;
  }
};

// Membership test: 1 when `code` is in the list.
int isAvailable(const AvailableCodes& codes, int code);

// The codes offered at each label, given the labels before it. Label 1 offers the contacts,
// the layers and interfaces in use and the working-point and illumination quantities; the
// lower labels offer only what exists in the item chosen above (a defect that the layer has,
// a level of that defect, the parts of a property's law, ...); "nihil" is offered exactly when
// nothing else is.
AvailableCodes AvailableLabel1Codes(const ShortCellDefinition& s);
AvailableCodes AvailableLabel2Codes(const ShortCellDefinition& s, int label1);
AvailableCodes AvailableLabel3Codes(const ShortCellDefinition& s, int label1, int label2);
AvailableCodes AvailableLabel4Codes(const ShortCellDefinition& s, int label1, int label2, int label3);

// 1 when each of the four codes is offered by `current`; with `allFiles` set, when this holds
// for the short definition of every definition file of the batch (`batchFiles`) as well.
int CheckAvailability(const ShortCellDefinition& current, int allFiles, std::span<const ShortCellDefinition> batchFiles,
                      int label1, int label2, int label3, int label4);

}  // namespace zoniq
