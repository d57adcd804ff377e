// The short cell definition: which batch-parameter codes a cell offers, and metastable mode.
#include "celldef/short_cell_definition.hpp"

#include <array>
#include <vector>

#include "celldef/deffile_fixture.hpp"
#include "celldef/metastable.hpp"
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

// The two-layer cell (tests/data/deffile/two_layers.def): a two-level amphoteric and a graded
// acceptor defect, graded gap and doping, composition and absorption files, metastable transition
// 2, a tunnelling interface defect; a fixed work function and filters at the contacts.
TEST(ShortCellDefinition, OfferedCodesFollowWhatTheCellHasAndItsModes) {
  const ShortCellDefinition s = TwoLayerShort();
  constexpr int N = BP_NIHIL;
  const std::array<int, 5> cases[] = {
      {BP1_LAYER_2, BP2_THICKNESS, N, N, 1},
      {BP1_LAYER_3, BP2_THICKNESS, N, N, 0},
      {BP1_INTERFACE_1, BP2_INTRABAND_TUNNELING_AT_IF, N, N, 1},
      {BP1_INTERFACE_2, BP2_INTRABAND_TUNNELING_AT_IF, N, N, 0},
      {BP1_LAYER_1, BP2_DEFECT_2, BP3_SIGMA_N, BP4_LEVEL_1_OF_DEFECT, 1},
      {BP1_LAYER_1, BP2_DEFECT_3, BP3_SIGMA_N, BP4_LEVEL_1_OF_DEFECT, 0},
      {BP1_LAYER_1, BP2_DEFECT_1, BP3_ENERGY_LEVEL_ET, BP4_LEVEL_2_OF_DEFECT, 1},
      {BP1_LAYER_1, BP2_DEFECT_1, BP3_ENERGY_LEVEL_ET, BP4_LEVEL_3_OF_DEFECT, 0},
      {BP1_LAYER_1, BP2_DEFECT_1, BP3_NT_PEAK, BP4_PURE_A_MATERIAL, 1},
      {BP1_LAYER_1, BP2_DEFECT_2, BP3_NT_PEAK, BP4_LEFT_SIDE, 0},
      {BP1_LAYER_1, BP2_DEFECT_1, BP3_CHARACTERISTIC_ENERGY_EKAR, N, 1},
      {BP1_LAYER_1, BP2_DEFECT_2, BP3_NT_TOTAL, BP4_RIGHT_SIDE, 1},
      {BP1_LAYER_1, BP2_DEFECT_1, BP3_OPTICAL_SIGMA_N_FILE, BP4_LEVEL_1_OF_DEFECT, 1},
      {BP1_LAYER_1, BP2_DEFECT_1, BP3_LUCOVSKY_N_E, BP4_LEVEL_2_OF_DEFECT, 1},
      {BP1_LAYER_1, BP2_DEFECT_1, BP3_OPTICAL_SIGMA_P_FILE, BP4_LEVEL_1_OF_DEFECT, 0},
      {BP1_INTERFACE_1, BP2_INTERFACE_DEFECT_1, BP3_IF_NT_PEAK, N, 1},
      {BP1_INTERFACE_1, BP2_INTERFACE_DEFECT_2, BP3_IF_SIGMA_N, N, 0},
      {BP1_LAYER_1, BP2_METASTABLE_TRANSITION_1, BP3_META_ALLOW, N, 1},
      {BP1_LAYER_1, BP2_METASTABLE_TRANSITION_1, BP3_META_E_TR, N, 0},
      {BP1_LAYER_1, BP2_METASTABLE_TRANSITION_2, BP3_META_E_TR, N, 1},
      {BP1_LEFT_CONTACT, BP2_WORKFUNCTION, N, N, 1},
      {BP1_RIGHT_CONTACT, BP2_WORKFUNCTION, N, N, 0},
      {BP1_LEFT_CONTACT, BP2_FILTER_R_OR_T, N, N, 1},
      {BP1_RIGHT_CONTACT, BP2_FILTER_FILE, N, N, 1},
      {BP1_LEFT_CONTACT, BP2_REL_MASS_ELECT_AT_CONTACT, N, N, 1},
      {BP1_LAYER_1, BP2_PUREA_ABSORPTION_CONSTANT_A, N, N, 1},
      {BP1_LAYER_1, BP2_PUREB_ABSORPTION_FILE, N, N, 1},
      {BP1_LAYER_1, BP2_COMPOSITION_FILE, N, N, 1},
      {BP1_LAYER_1, BP2_BANDGAP, N, BP4_PURE_B_MATERIAL, 1},
      {BP1_LAYER_1, BP2_BANDGAP, N, BP4_PROFILE_PARAMETER_5, 0},
      {BP1_LAYER_1, BP2_BANDGAP, N, BP4_LEFT_SIDE, 0},
      {BP1_LAYER_2, BP2_BANDGAP, N, BP4_PURE_A_MATERIAL, 1},
      {BP1_LAYER_1, BP2_ND, N, BP4_LEFT_SIDE, 1},
      {BP1_LAYER_1, BP2_ND, N, BP4_PROFILE_PARAMETER_5, 1},
      {BP1_LAYER_1, BP2_BANDGAP, N, N, 0},
      {BP1_V, N, N, BP4_INITIAL_WORKPOINT, 1},
      {BP1_V, BP2_THICKNESS, N, N, 0},
      {BP1_RS, N, N, N, 1},
      {BP1_ILLUMINATION, BP2_SPECTRUM_CUTOFF, BP3_SHORT_LAMBDA, BP4_MEASUREMENT_WORKPOINT, 1},
      {BP1_ILLUMINATION, BP2_MONOCHROMATOR, BP3_SHORT_LAMBDA, BP4_MEASUREMENT_WORKPOINT, 0},
      {NBP1, N, N, N, 0},
      {BP1_LAYER_1, BP2_THICKNESS, N, 99, 0},
  };
  for (const auto& [c1, c2, c3, c4, offered] : cases)
    EXPECT_EQ(Offered(s, c1, c2, c3, c4), offered) << c1 << " " << c2 << " " << c3 << " " << c4;
  // A new cell offers the contacts and the working-point quantities, but no layer.
  ShortCellDefinition fresh;
  InitialiseShortCellDefinition(fresh);
  EXPECT_EQ(Offered(fresh, BP1_LEFT_CONTACT, BP2_S_N, N, N), 1);
  EXPECT_EQ(Offered(fresh, BP1_T, N, N, BP4_MEASUREMENT_WORKPOINT), 1);
  EXPECT_EQ(Offered(fresh, BP1_LAYER_1, BP2_THICKNESS, N, N), 0);
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
    L.tunneling = 1, L.srhteller = MAXBULKDEFECTS;
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

// Whether a cell runs in metastable mode, asked of its short definition: only switched-on
// transitions of the layers in use count.
TEST(ShortCellDefinition, MetastableModeOnlyForSwitchedOnTransitionsOfLayersInUse) {
  CellDefinition cell;
  InitialiseCellDefinition(cell);
  ShortCellDefinition shortDef;
  // {layer, transition, layers in use, metastable}: the second transition of the last layer in
  // use; the same in a layer beyond the stack; the first transition of the first layer.
  for (const auto& [layer, transition, layers, expected] :
       {std::array{2, 1, 3, 1}, std::array{2, 1, 2, 0}, std::array{0, 0, 1, 1}, std::array{5, 0, 3, 0}}) {
    for (auto& l : cell.layer)
      for (auto& m : l.meta) m.switchedOn = 0;
    cell.numberOfLayers = layers;
    cell.layer[static_cast<std::size_t>(layer)].meta[static_cast<std::size_t>(transition)].switchedOn = 1;
    LongToShortCellDefinition(cell, shortDef);
    EXPECT_EQ(CheckMETAModeShort(shortDef), expected) << layer << " " << transition << " " << layers;
  }
  InitialiseShortCellDefinition(shortDef);
  EXPECT_EQ(CheckMETAModeShort(shortDef), 0);
  // A count beyond the capacity is not trusted beyond the layers that exist.
  shortDef.numberOfLayers = 1000, shortDef.layer.back().metaOn[0] = 1;
  EXPECT_EQ(CheckMETAModeShort(shortDef), 1);
}

}  // namespace
}  // namespace zoniq::test
