// Shared set-up of the definition-file tests: an environment that records every message,
// reading a text through a temporary file, and the cells the tests write.
#pragma once

#include <string>
#include <vector>

#include "celldef/cell_definition.hpp"
#include "celldef/definition_file.hpp"
#include "test_util.hpp"
#include "ui/error_message.hpp"
#include "ui/user_interface.hpp"

namespace zoniq::test {

// The banner and save time used by every written file of these tests.
inline const std::string kBanner = "ZONIQ 3.2.00 NORVALE: Version zoniq dated 01-02-2024, 03:04:05";
inline constexpr DateTime kSavedAt{5, 3, 2024, 12, 7, 9};

struct Recorder {
  RecordingUserInterface ui;
  ErrorReporting errors;
  std::string programFolder;
  Environment env() { return Environment{&ui, &errors, programFolder}; }
};

// Result of reading a definition file into fresh records.
struct ReadResult {
  int rc = 0;
  InputParameters set;
  MottSchottkySettings ms;
  DefinitionExtras extras;
  std::vector<RecordingUserInterface::Popup> messages;
};

inline ReadResult ReadDefFile(const std::string& path) {
  Recorder rec;
  ReadResult r;
  InitialiseInputParameters(r.set, r.ms);
  r.rc = lees_structuurfile(rec.env(), path, r.set, r.ms, r.extras);
  r.messages = rec.ui.popups;
  return r;
}

inline ReadResult ReadDefText(const TempDir& dir, const std::string& text, const std::string& name = "in.def") {
  WriteWholeFile(dir.file(name), text);
  return ReadDefFile(dir.file(name));
}

// The two-layer cell of tests/data/deffile/two_layers.def, in SI units, as that file's
// hand-written lines describe it.
InputParameters TwoLayerSet(MottSchottkySettings& ms, DefinitionExtras& extras);

// A cell that uses every part of the file: 7 layers, all interpolation laws, defects with one
// to four levels and every distribution, optical capture data, both metastable transitions,
// interfaces with up to three defects, both filter kinds, Rs and Gsh, Mott-Schottky settings.
// Every value is one that the file's number layouts hold exactly.
InputParameters RichSet(MottSchottkySettings& ms, DefinitionExtras& extras);

// The quantities a reader derives (peak-to-total factors, scale flags, composition mode), set
// the way a freshly read cell has them.
void SetDerivedFields(CellDefinition& cell);

}  // namespace zoniq::test
