// The program's state for one run: the cell in its parameter sets, the settings the
// definition file carries, error reporting and call statistics. Everything the program
// keeps between operations lives here and is passed explicitly.
#pragma once

#include <memory>
#include <string>

#include "celldef/cell_definition.hpp"
#include "common/call_counts.hpp"
#include "ui/error_message.hpp"
#include "ui/user_interface.hpp"

namespace zoniq {

struct Session {
  // `ui` may be null: the session then uses a console user interface of its own.
  explicit Session(std::string programFolder, std::unique_ptr<UserInterface> ui = nullptr);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Environment env() { return Environment{ui.get(), &errors, programFolder}; }

  std::string programFolder;
  std::unique_ptr<UserInterface> ui;
  ErrorReporting errors;
  CallCounter counter;

  std::string VERSION;  // the version banner
  int QuitScriptMode = 0;
  int ActionListMode = 0;

  InputParameters parameterset1;       // the cell in SI units, as the definition file holds it
  CellDefinition zonnecel;             // parameter set 2: the cell in practical units
  MottSchottkySettings mottSchottky;   // beside the cell
  DefinitionExtras definitionExtras;   // remarks, mesh, QE-light and working-point items of the file
  std::string problemName = "new problem";  // the definition file of the current cell
};

}  // namespace zoniq
