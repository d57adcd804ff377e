// The catalogue of the cell parameters a script can set and get: for every quantity its unit,
// the range of values that make physical sense and a short description, and the list of every
// name the lookup of cell_parameters accepts. `zoniq --list-parameters` and the user manual are
// made from it, and the set command warns with it when a value lies outside the sensible range
// (a value typed in the definition file's SI units, such as a doping of 2e22 "cm^-3").
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "celldef/cell_definition.hpp"
#include "celldef/cell_parameters.hpp"

namespace zoniq {

struct QuantityInfo {
  CellQuantity quantity;
  const char* unit;  // "" for switches, keywords and file names; "-" for pure numbers
  // Values outside [lo, hi] are taken but warned about; lo > hi: no check (keywords, files).
  double lo, hi;
  const char* description;
};

// The row of a quantity; every CellQuantity has one.
const QuantityInfo& InfoOf(CellQuantity quantity);
// Every row, in the order of CellQuantity.
const std::vector<QuantityInfo>& AllQuantities();

// One name the lookup accepts. Placeholders: N a layer or interface number, M a defect or
// transition number, K a level number (each counting from 1).
struct ListedName {
  std::string name;
  CellQuantity quantity;
  CellValueKind kind;
};
// Every name, generated from the keyword tables of the lookup itself.
std::vector<ListedName> ListCellParameterNames();

// The text of `zoniq --list-parameters`: one line per name with its unit, sensible range and
// description, tab-separated, after a heading line.
std::string ListParametersText();

// The numerical settings a script can set and get ("numerical.NAME"), kept with the
// convergence settings of the cell definition. Unlike a cell parameter, a value outside the
// range is refused: these ranges are the limits of what the solver can take.
struct NumericalSetting {
  const char* name;  // the part after "numerical."
  const char* unit;
  double lo, hi;
  bool integer;
  const char* description;
  double (*get)(const ConvergenceParameters&);
  void (*set)(ConvergenceParameters&, double);
};
const std::vector<NumericalSetting>& NumericalSettings();
// The setting of a name (case-insensitive, as the script's other names), or nullptr.
const NumericalSetting* FindNumericalSetting(std::string_view name);
// Store a value; returns the reason when it is refused (the settings are then unchanged).
std::string SetNumericalSetting(ConvergenceParameters& c, const NumericalSetting& setting, double value);

// The warning text for a value outside the sensible range of its quantity (naming the unit the
// script expects), or empty.
std::string PlausibilityWarning(const CellParameter& parameter, double value);

}  // namespace zoniq
