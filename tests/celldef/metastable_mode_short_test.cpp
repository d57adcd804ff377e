// Whether a cell runs in metastable mode, asked of its short definition: only switched-on
// transitions of the layers in use count.
#include <gtest/gtest.h>

#include "celldef/metastable.hpp"
#include "celldef/short_cell_definition.hpp"

namespace zoniq {
namespace {

TEST(MetastableModeShort, SwitchedOnTransitionsOfLayersInUse) {
  CellDefinition cell;
  InitialiseCellDefinition(cell);
  cell.numberOfLayers = 3;
  ShortCellDefinition shortDef;
  struct Case {
    int layer, transition, layers, expected;
  };
  // The second transition of the last layer in use; the same in a layer beyond the stack; the
  // first transition of the first layer.
  const Case cases[] = {{2, 1, 3, 1}, {2, 1, 2, 0}, {0, 0, 1, 1}, {5, 0, 3, 0}};
  for (const Case& c : cases) {
    for (auto& layer : cell.layer)
      for (auto& m : layer.meta) m.switchedOn = 0;
    cell.numberOfLayers = c.layers;
    cell.layer[static_cast<std::size_t>(c.layer)].meta[static_cast<std::size_t>(c.transition)].switchedOn = 1;
    LongToShortCellDefinition(cell, shortDef);
    EXPECT_EQ(CheckMETAModeShort(shortDef), c.expected) << c.layer << " " << c.transition << " " << c.layers;
  }
  InitialiseShortCellDefinition(shortDef);
  EXPECT_EQ(CheckMETAModeShort(shortDef), 0);
  // A count beyond the capacity is not trusted beyond the layers that exist.
  shortDef.numberOfLayers = 1000;
  shortDef.layer.back().metaOn[0] = 1;
  EXPECT_EQ(CheckMETAModeShort(shortDef), 1);
}

}  // namespace
}  // namespace zoniq
