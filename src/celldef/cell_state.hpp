// The cell of a session in its parameter sets, with what its definition file carries besides.
#pragma once

#include <string>

#include "celldef/cell_definition.hpp"

namespace zoniq {

struct CellState {
  CellState() {
    InitialiseInputParameters(parameterset1, mottSchottky);
    parameterset1_to_2(zonnecel, parameterset1);
  }

  InputParameters parameterset1;            // the cell in SI units, as the definition file holds it
  CellDefinition zonnecel;                  // parameter set 2: the cell in practical units
  MottSchottkySettings mottSchottky;        // beside the cell
  DefinitionExtras definitionExtras;        // remarks, mesh, QE-light and working-point items of the file
  std::string problemName = "new problem";  // the definition file of the current cell
};

}  // namespace zoniq
