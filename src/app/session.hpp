// The program's state for one run: the cell in its parameter sets, the settings the
// definition file carries, error reporting and call statistics. Everything the program
// keeps between operations lives here and is passed explicitly.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "celldef/cell_definition.hpp"
#include "common/call_counts.hpp"
#include "ui/error_message.hpp"
#include "ui/user_interface.hpp"

namespace zoniq {

// A plot colour as 0xRRGGBB.
using PlotColour = unsigned int;
inline constexpr int kNumberOfPlotColours = 16;

struct Session {
  // `ui` may be null: the session then uses a console user interface of its own.
  explicit Session(std::string programFolder, std::unique_ptr<UserInterface> ui = nullptr);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Environment env() { return Environment{ui.get(), &errors, programFolder}; }

  // Reports through the one error routine (pop-up or log, by `ErrorMessageMode`).
  void Error(std::string_view title, std::string_view message) { ZONIQErrorMessage(errors, *ui, title, message); }

  // The error-handling control: 0 pop-ups, 1 append to the log, 2 fresh log. Other values
  // show a pop-up and also log to a fresh file.
  void ErrorHandling(int mode) { errors.ErrorMessageMode = mode; }
  // The "output list after a convergence error" control: 0 truncate, 1 fill with zeros,
  // 2 fill with white space. Returns false (and keeps the mode) for any other value.
  bool ActionList(int mode);

  std::string programFolder;
  std::unique_ptr<UserInterface> ui;
  ErrorReporting errors;
  CallCounter counter;

  std::string VERSION;  // the version banner
  int QuitScriptMode = 0;
  int ActionListMode = 0;
  int META_Mode = 0;  // metastable-defect mode

  InputParameters parameterset1;            // the cell in SI units, as the definition file holds it
  CellDefinition zonnecel;                  // parameter set 2: the cell in practical units
  MottSchottkySettings mottSchottky;        // beside the cell
  DefinitionExtras definitionExtras;        // remarks, mesh, QE-light and working-point items of the file
  std::string problemName = "new problem";  // the definition file of the current cell
  std::string spectrumFile;                 // full path of the chosen illumination spectrum; empty = none

  // Simulations started in this run, by origin.
  int singleShotSimulations = 0;
  int batchSimulations = 0;
  int fitSimulations = 0;
  // Plot colours in their fixed order, and the index of the next one to use.
  std::array<PlotColour, kNumberOfPlotColours> plotColours{};
  int colourIndex = 0;
};

// The plot colours: white, red, blue, green, cyan, magenta, yellow, dark red, dark blue,
// dark green, dark cyan, dark magenta, olive, light grey, grey, black.
extern const std::array<PlotColour, kNumberOfPlotColours> kPlotPalette;

}  // namespace zoniq
