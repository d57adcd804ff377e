// The short cell definition and which batch-parameter codes a cell offers.
#include "celldef/short_cell_definition.hpp"

#include <vector>

#include "celldef/deffile_fixture.hpp"
#include "test_util.hpp"

namespace zoniq::test {
namespace {

ShortCellDefinition TwoLayerShort() {
  MottSchottkySettings ms;
  DefinitionExtras extras;
  const InputParameters set1 = TwoLayerSet(ms, extras);
  ShortCellDefinition s;
  LongToShortCellDefinition(set1.cellParas, s);
  return s;
}

int Offered(const ShortCellDefinition& s, int c1, int c2, int c3, int c4) {
  return CheckAvailability(s, 0, {}, c1, c2, c3, c4);
}

TEST(ShortCellDefinition, InitialisedEqualsTheShortFormOfANewCell) {
  ShortCellDefinition s;
  s.numberOfLayers = 4;
  InitialiseShortCellDefinition(s);
  CellDefinition cell;
  InitialiseCellDefinition(cell);
  ShortCellDefinition fromCell;
  LongToShortCellDefinition(cell, fromCell);
  EXPECT_EQ(s, fromCell);
  EXPECT_EQ(s.numberOfLayers, 0);
  EXPECT_EQ(s.layer[0].Nd, (ShortProfile{LAW_UNIFORM, DEP_UNIFORM}));
  // A new cell offers the contacts and the working-point quantities, but no layer.
  EXPECT_EQ(Offered(s, BP1_LEFT_CONTACT, BP2_S_N, BP_NIHIL, BP_NIHIL), 1);
  EXPECT_EQ(Offered(s, BP1_T, BP_NIHIL, BP_NIHIL, BP4_MEASUREMENT_WORKPOINT), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_THICKNESS, BP_NIHIL, BP_NIHIL), 0);
}

TEST(ShortCellDefinition, OnlyExistingLayersInterfacesDefectsAndLevelsAreOffered) {
  const ShortCellDefinition s = TwoLayerShort();
  EXPECT_EQ(Offered(s, BP1_LAYER_2, BP2_THICKNESS, BP_NIHIL, BP_NIHIL), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_3, BP2_THICKNESS, BP_NIHIL, BP_NIHIL), 0);
  EXPECT_EQ(Offered(s, BP1_INTERFACE_1, BP2_INTRABAND_TUNNELING_AT_IF, BP_NIHIL, BP_NIHIL), 1);
  EXPECT_EQ(Offered(s, BP1_INTERFACE_2, BP2_INTRABAND_TUNNELING_AT_IF, BP_NIHIL, BP_NIHIL), 0);
  // Layer 1 has two defects, layer 2 none.
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_DEFECT_2, BP3_SIGMA_N, BP4_LEVEL_1_OF_DEFECT), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_DEFECT_3, BP3_SIGMA_N, BP4_LEVEL_1_OF_DEFECT), 0);
  EXPECT_EQ(Offered(s, BP1_LAYER_2, BP2_DEFECT_1, BP3_SIGMA_N, BP4_LEVEL_1_OF_DEFECT), 0);
  // Defect 1 has two levels, defect 2 one.
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_DEFECT_1, BP3_ENERGY_LEVEL_ET, BP4_LEVEL_2_OF_DEFECT), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_DEFECT_1, BP3_ENERGY_LEVEL_ET, BP4_LEVEL_3_OF_DEFECT), 0);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_DEFECT_2, BP3_SIGMA_P, BP4_LEVEL_2_OF_DEFECT), 0);
  // A peak density and a width exist only for a distribution; defect 1 is gaussian.
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_DEFECT_1, BP3_NT_PEAK, BP4_PURE_A_MATERIAL), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_DEFECT_2, BP3_NT_PEAK, BP4_LEFT_SIDE), 0);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_DEFECT_1, BP3_CHARACTERISTIC_ENERGY_EKAR, BP_NIHIL), 1);
  // Defect 2's density depends on position: its sides, not its materials.
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_DEFECT_2, BP3_NT_TOTAL, BP4_RIGHT_SIDE), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_DEFECT_2, BP3_NT_TOTAL, BP4_PURE_B_MATERIAL), 0);
  // Optical capture of electrons: a file and the model; of holes: nothing.
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_DEFECT_1, BP3_OPTICAL_SIGMA_N_FILE, BP4_LEVEL_1_OF_DEFECT), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_DEFECT_1, BP3_LUCOVSKY_N_E, BP4_LEVEL_2_OF_DEFECT), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_DEFECT_1, BP3_OPTICAL_SIGMA_P_FILE, BP4_LEVEL_1_OF_DEFECT), 0);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_DEFECT_1, BP3_LUCOVSKY_N_H, BP4_LEVEL_1_OF_DEFECT), 0);
  // Interface defect 1 exists, is distributed and tunnels.
  EXPECT_EQ(Offered(s, BP1_INTERFACE_1, BP2_INTERFACE_DEFECT_1, BP3_IF_NT_PEAK, BP_NIHIL), 1);
  EXPECT_EQ(Offered(s, BP1_INTERFACE_1, BP2_INTERFACE_DEFECT_1, BP3_M_E, BP_NIHIL), 1);
  EXPECT_EQ(Offered(s, BP1_INTERFACE_1, BP2_INTERFACE_DEFECT_2, BP3_IF_SIGMA_N, BP_NIHIL), 0);
  // A metastable transition needs two defects in its layer; its energies only when it is on.
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_METASTABLE_TRANSITION_1, BP3_META_ALLOW, BP_NIHIL), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_METASTABLE_TRANSITION_1, BP3_META_E_TR, BP_NIHIL), 0);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_METASTABLE_TRANSITION_2, BP3_META_E_TR, BP_NIHIL), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_METASTABLE_TRANSITION_2, BP3_META_NT_TOTAL, BP4_LEFT_SIDE), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_2, BP2_METASTABLE_TRANSITION_1, BP3_META_ALLOW, BP_NIHIL), 0);
}

TEST(ShortCellDefinition, ModesDecideWhichPropertiesAndPartsExist) {
  const ShortCellDefinition s = TwoLayerShort();
  // Left contact: fixed work function, a constant filter; right: flatband, a filter file.
  EXPECT_EQ(Offered(s, BP1_LEFT_CONTACT, BP2_WORKFUNCTION, BP_NIHIL, BP_NIHIL), 1);
  EXPECT_EQ(Offered(s, BP1_RIGHT_CONTACT, BP2_WORKFUNCTION, BP_NIHIL, BP_NIHIL), 0);
  EXPECT_EQ(Offered(s, BP1_LEFT_CONTACT, BP2_FILTER_R_OR_T, BP_NIHIL, BP_NIHIL), 1);
  EXPECT_EQ(Offered(s, BP1_LEFT_CONTACT, BP2_FILTER_FILE, BP_NIHIL, BP_NIHIL), 0);
  EXPECT_EQ(Offered(s, BP1_RIGHT_CONTACT, BP2_FILTER_FILE, BP_NIHIL, BP_NIHIL), 1);
  EXPECT_EQ(Offered(s, BP1_LEFT_CONTACT, BP2_REL_MASS_ELECT_AT_CONTACT, BP_NIHIL, BP_NIHIL), 1);
  EXPECT_EQ(Offered(s, BP1_RIGHT_CONTACT, BP2_REL_MASS_ELECT_AT_CONTACT, BP_NIHIL, BP_NIHIL), 0);
  // Layer 1: absorption constants of pure A, a file for pure B; a composition file.
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_PUREA_ABSORPTION_CONSTANT_A, BP_NIHIL, BP_NIHIL), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_PUREB_ABSORPTION_CONSTANT_A, BP_NIHIL, BP_NIHIL), 0);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_PUREB_ABSORPTION_FILE, BP_NIHIL, BP_NIHIL), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_COMPOSITION_FILE, BP_NIHIL, BP_NIHIL), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_2, BP2_COMPOSITION_FILE, BP_NIHIL, BP_NIHIL), 0);
  // Parabolic band gap over composition: both materials, bowing and minimum (p2, p3), no p4.
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_BANDGAP, BP_NIHIL, BP4_PURE_B_MATERIAL), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_BANDGAP, BP_NIHIL, BP4_PROFILE_PARAMETER_4), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_BANDGAP, BP_NIHIL, BP4_PROFILE_PARAMETER_5), 0);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_BANDGAP, BP_NIHIL, BP4_LEFT_SIDE), 0);
  // Uniform band gap of layer 2: only the one value; no pure B.
  EXPECT_EQ(Offered(s, BP1_LAYER_2, BP2_BANDGAP, BP_NIHIL, BP4_PURE_A_MATERIAL), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_2, BP2_BANDGAP, BP_NIHIL, BP4_PURE_B_MATERIAL), 0);
  // Exponential donor profile over position: both sides and p2..p4.
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_ND, BP_NIHIL, BP4_LEFT_SIDE), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_ND, BP_NIHIL, BP4_PROFILE_PARAMETER_5), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_ND, BP_NIHIL, BP4_PURE_A_MATERIAL), 0);
  // A thickness has no parts; a property always needs one.
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_THICKNESS, BP_NIHIL, BP_NIHIL), 1);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_BANDGAP, BP_NIHIL, BP_NIHIL), 0);
  // Working-point quantities: no property, no defect item; the two working points.
  EXPECT_EQ(Offered(s, BP1_V, BP_NIHIL, BP_NIHIL, BP4_INITIAL_WORKPOINT), 1);
  EXPECT_EQ(Offered(s, BP1_V, BP2_THICKNESS, BP_NIHIL, BP_NIHIL), 0);
  EXPECT_EQ(Offered(s, BP1_RS, BP_NIHIL, BP_NIHIL, BP_NIHIL), 1);
  EXPECT_EQ(Offered(s, BP1_ILLUMINATION, BP2_SPECTRUM_CUTOFF, BP3_SHORT_LAMBDA, BP4_MEASUREMENT_WORKPOINT), 1);
  EXPECT_EQ(Offered(s, BP1_ILLUMINATION, BP2_MONOCHROMATOR, BP3_SHORT_LAMBDA, BP4_MEASUREMENT_WORKPOINT), 0);
  // Unknown codes are never offered.
  EXPECT_EQ(Offered(s, NBP1, BP_NIHIL, BP_NIHIL, BP_NIHIL), 0);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, NBP2, BP_NIHIL, BP_NIHIL), 0);
  EXPECT_EQ(Offered(s, BP1_LAYER_1, BP2_THICKNESS, BP_NIHIL, 99), 0);
}

TEST(ShortCellDefinition, AllFilesSwitchAsksEveryDefinitionFileOfTheBatch) {
  const ShortCellDefinition two = TwoLayerShort();
  ShortCellDefinition one = two;
  one.numberOfLayers = 1;
  const std::vector<ShortCellDefinition> files = {two, one};
  // Layer 2 exists in the current cell but not in the second file of the batch.
  EXPECT_EQ(CheckAvailability(two, 0, files, BP1_LAYER_2, BP2_THICKNESS, BP_NIHIL, BP_NIHIL), 1);
  EXPECT_EQ(CheckAvailability(two, 1, files, BP1_LAYER_2, BP2_THICKNESS, BP_NIHIL, BP_NIHIL), 0);
  EXPECT_EQ(CheckAvailability(two, 1, files, BP1_LAYER_1, BP2_THICKNESS, BP_NIHIL, BP_NIHIL), 1);
  // The current cell must offer it too.
  EXPECT_EQ(
      CheckAvailability(one, 1, std::vector<ShortCellDefinition>{two}, BP1_LAYER_2, BP2_THICKNESS, BP_NIHIL, BP_NIHIL),
      0);
}

TEST(ShortCellDefinition, OfferedListsStayWithinTheirCapacities) {
  MottSchottkySettings ms;
  DefinitionExtras extras;
  InputParameters rich = RichSet(ms, extras);
  for (auto& L : rich.cellParas.layer) {
    L.tunneling = 1;
    L.srhteller = MAXBULKDEFECTS;
  }
  ShortCellDefinition s;
  LongToShortCellDefinition(rich.cellParas, s);
  EXPECT_LE(AvailableLabel1Codes(s).count, kMaxCellLevelCodes);
  for (int c1 = 0; c1 < NBP1; ++c1) {
    const AvailableCodes l2 = AvailableLabel2Codes(s, c1);
    EXPECT_LE(l2.count, kMaxLayerLevelCodes);
    EXPECT_GE(l2.count, 1);  // at least "nihil"
    for (int i = 0; i < l2.count; ++i) {
      const AvailableCodes l3 = AvailableLabel3Codes(s, c1, l2.code[i]);
      EXPECT_LE(l3.count, kMaxDefectLevelCodes);
      for (int j = 0; j < l3.count; ++j)
        EXPECT_LE(AvailableLabel4Codes(s, c1, l2.code[i], l3.code[j]).count, kMaxLevelLevelCodes);
    }
  }
  // Seven layers, six interfaces, two contacts and ten working-point and light quantities.
  EXPECT_EQ(AvailableLabel1Codes(s).count, 25);
}

}  // namespace
}  // namespace zoniq::test
