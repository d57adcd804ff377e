// The recorder: the quantities to collect from every step of a batch, their settings file
// (".srf") and the table of recorded values (".rcd"). A quantity is named by five codes: its
// type, its property, a layer (or an ac part, or an interface), a defect and a level.
//
// Scalar quantities are one number per step: the cell characteristics of the step's I-V curve,
// the general current and recombination currents (looked up in the I-V curve by voltage), the
// general capacitance and conductance (the first point of the step's C-f curve) and the
// interface currents, charge and defect occupations of the step's final state. Profiles are one value per mesh
// point, taken from the step's final solved state: the band diagram, the generation and
// recombination rates, the occupation of a defect level, the last small-signal solution and the
// graded cell properties. The settings file reads and writes every type; what this program
// cannot extract is refused when a recording starts.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_setup.hpp"
#include "measure/simulation_record.hpp"
#include "measure/small_signal.hpp"
#include "output/band_diagram.hpp"
#include "settings/settings_files.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

inline constexpr int kMaxRecorderParameters = 120;

// Types, in the order of their keywords.
enum RecorderType {
  REC_NOT_APPLICABLE = 0,
  REC_CELL_CHARACTERISTICS,
  REC_ENERGY_BANDS,
  REC_GENERATION_RECOMBINATION,
  REC_OCCUPATION,
  REC_AC,
  REC_GENERAL,
  REC_INTERFACES,
  REC_CELL_DEFINITION,
  REC_TYPES
};

// Properties of the cell characteristics and of the general type (codes within their type).
enum RecorderCellCharacteristic {
  REC_ALL_CHARACTERISTICS = 0,
  REC_EFFICIENCY,
  REC_JSC,
  REC_VOC,
  REC_FF,
  REC_VMPP,
  REC_JMPP
};
enum RecorderGeneral {
  REC_GENERAL_CURRENT = 0,
  REC_GENERAL_CAPACITANCE,
  REC_GENERAL_CONDUCTANCE,
  REC_GENERAL_G_OMEGA,
  REC_GENERAL_RECOMBINATION_TOTAL,
  REC_GENERAL_RECOMBINATION_SRH,
  REC_GENERAL_RECOMBINATION_RADIATIVE,
  REC_GENERAL_RECOMBINATION_AUGER
};

// The layer field: a layer, interface or defect number from 1, or one of these.
inline constexpr int kRecNotApplicable = -1;
inline constexpr int kRecLastLayer = -2;
inline constexpr int kRecAllLayers = -3;
inline constexpr int kRecRealPart = -4;
inline constexpr int kRecImaginaryPart = -5;
inline constexpr int kRecRealAndImaginary = -6;

extern const std::array<const char*, REC_TYPES> kRecorderTypeKeywords;
const std::vector<std::string>& RecorderPropertyKeywords(int type);
// Keyword of a code (kind 0 type, 1 property of `type`, 2 layer/part) and the reverse: exact
// match first, then the first keyword that begins the text, without regard to case;
// kRecNoKeyword when none.
inline constexpr int kRecNoKeyword = -100;
std::string REC_constantToRecorderKeyWord(int kind, int type, int code);
int RecorderKeyWordToREC_constant(int kind, int type, std::string_view text);

struct RecorderParameter {
  int type = REC_NOT_APPLICABLE;
  int property = 0;
  int layer = kRecNotApplicable;  // or ac part, or interface
  int defect = kRecNotApplicable;
  int level = kRecNotApplicable;
  bool operator==(const RecorderParameter&) const = default;
};

// Scalar quantities are one number per step.
bool IsScalarRecorderParameter(const RecorderParameter& p);
// Whether the quantity is read from the step's solved state (the interface currents and charge
// and every profile) rather than from its simulation record.
bool NeedsSolution(const RecorderParameter& p);
// Whether the quantity needs the C-f sweep (the general capacitance and conductance, and the ac
// profiles, which are those of the sweep's last frequency).
bool NeedsCf(const RecorderParameter& p);
// Whether this program can record the quantity (false, with the reason, for the others).
bool CanRecord(const RecorderParameter& p, std::string& why);
// "Cell characteristics: efficiency (%)" and the like.
std::string MakeRecordText(const RecorderParameter& p);

// The profiles of one step: the mesh [µm] and, per recorder parameter, its value at every
// mesh point (empty for scalar parameters; NaN where it could not be extracted).
struct StepProfiles {
  std::vector<double> x;
  std::vector<std::vector<double>> values;
};

// One recorded step.
struct RecordedStep {
  long long step = 0;  // from 0
  int definitionFile = -1;
  std::string definitionFileName;
  std::vector<std::string> batchValues;  // the text of each parameter's value (sci 12.5 or file name)
  std::vector<double> batchNumbers;      // the values themselves (a file's index for a list of files)
  std::vector<double> values;            // one per recorder parameter; NaN: could not be recorded
  StepProfiles profiles;                 // when profiles are recorded
  bool failed = false;                   // the step's simulation was abandoned
};

struct RecorderSetup {
  std::vector<RecorderParameter> parameters;
  BatchSetup batchCopy;             // the batch of the recording
  std::vector<RecordedStep> steps;  // recorded so far
  bool haveHeader = false;
  SimulationRecord headerRecord;  // the first step's record without curves (for the file header)
  double ivStep = 0.0;            // voltage step of the first step's I-V curve [V]
  long long currentStep = -1;
};

// Adds a parameter; more than kMaxRecorderParameters are refused (reported).
int AddRecord(const Environment& env, RecorderSetup& recorder, const RecorderParameter& p);
// Empties the recorded data.
void resetRecordList(RecorderSetup& recorder);

// Whether the recorded quantities need the I-V sweep (cell characteristics and the general
// currents read the I-V curve).
bool RecorderNeedsIV(const RecorderSetup& recorder);

// The recorded values of one step from the step's own simulation record (null when the step
// produced none) and the band diagram of its final solved state (null when none): cell
// characteristics from the record when valid, else -1; the general current at the sweep's start
// voltage and the recombination currents at its end voltage [mA/cm2]; the interface currents
// [mA/cm2], charge [C/cm2] and the occupations of one of its defects (mean over the defect's
// energy distribution) of the named interface; NaN for whatever could not be found.
std::vector<double> RecordStepValues(const RecorderSetup& recorder, const SimulationRecord* record,
                                     const BandDiagramProfiles* profiles = nullptr);

// The profiles of the recorded parameters from a step's final solved state cv, its band diagram
// and its last small-signal solution (null when none): energy bands in the units of the
// band-diagram file, rates in /cm³·s, occupations as probabilities (the mean over a defect's
// energy distribution), ac quantities as in the ac file, cell properties in the units of the
// definition panels (densities /cm³). A quantity of a layer is 0 outside that layer.
StepProfiles RecordStepProfiles(const std::vector<RecorderParameter>& parameters, const CalculationVariables& cv,
                                const BandDiagramProfiles& bands, const AcSolution* ac);

// Records one step (`saveCalculationRecord`): the values and the batch values of the step, and
// its profiles (moved from `stepProfiles` when given).
void saveCalculationRecord(RecorderSetup& recorder, const BatchSetup& batch, long long step,
                           const std::array<double, kMaxBatchParameters>& values, int definitionFile,
                           const SimulationRecord* record, bool failed, const BandDiagramProfiles* profiles = nullptr,
                           StepProfiles* stepProfiles = nullptr);

// Kinds of recorder result file with their descriptions, extensions and header kinds. The
// scalar kinds are the I-V file (".iv": cell characteristics and general quantities), the
// general quantities (".gnr") and the interface quantities (".ifr"); kRecordAllScalars is the
// table of every scalar quantity (any other extension, and the rows written during a batch).
enum RecorderFileKind {
  kRecordIV = 0,
  kRecordEnergyBands,
  kRecordGeneration,
  kRecordOccupation,
  kRecordAc,
  kRecordGeneral,
  kRecordInterface,
  kRecordCellDefinition,
  kRecordKinds,
  kRecordAllScalars = kRecordKinds
};
// Whether a scalar file kind holds the parameter.
bool InScalarKind(const RecorderParameter& p, int kind);
// The table of scalar values of a kind: heading, then one row per recorded step.
std::string RecorderTableHeading(const RecorderSetup& recorder, int kind = kRecordAllScalars);
std::string RecorderTableRow(const RecorderSetup& recorder, const RecordedStep& step, int kind = kRecordAllScalars);
// A whole scalar result file: common header of the kind (with the I-V step for the I-V kinds),
// overview of its recorder parameters and of the batch, the table, and a warning line when a
// value is NaN.
std::string RecorderResultText(const RecorderSetup& recorder, const std::string& version, int kind = kRecordAllScalars);
// The recorder type whose profiles a file kind holds (REC_NOT_APPLICABLE for the scalar kinds).
int RecorderTypeOfKind(int kind);
// The kind a file name asks for by its extension (".iv", ".eb", ".gen", ".occ", ".ac", ".gnr",
// ".ifr"); the table of all scalars (kRecordAllScalars) for any other.
int RecorderKindOfFileName(std::string_view name);
// A file of profiles (`record_naar_file` for kinds 1 … 4 and 7): the common header, the
// overview of the recorder parameters of this kind and of the batch, the mesh of every step,
// then one table per parameter with one column per step.
std::string RecorderProfileText(const RecorderSetup& recorder, int kind, const std::string& version);
// Writes the kind's file (`record_naar_file` mode 3): the scalar table of a scalar kind (for
// kRecordAllScalars followed by the tables of the cell-definition profiles when such are
// recorded), else the kind's profiles.
// Returns 0, or -1 when nothing was recorded (reported "No recording made yet: nothing to save
// or show") or the file cannot be written.
int record_naar_file(const Environment& env, std::FILE* file, const RecorderSetup& recorder, const std::string& version,
                     int kind = kRecordAllScalars);

// The settings file.
std::string RecordSettingsText(const RecorderSetup& recorder);
int SaveRecordSettingsInFile(std::FILE* file, UserInterface& ui, const HeaderInfo& header,
                             const RecorderSetup& recorder, bool withHeader);
int SaveRecordSettingsToPath(const Environment& env, std::string_view name, const HeaderInfo& header,
                             const RecorderSetup& recorder);
// Reads the parameters into a fresh list; the recorder keeps its old list when the text is
// refused. Group entries are expanded into their members.
int SetRecordFromText(const Environment& env, std::string_view text, const std::string& fileName,
                      RecorderSetup& recorder);
int SetRecordFromFile(const Environment& env, std::string_view name, RecorderSetup& recorder,
                      std::string* fullPath = nullptr);

}  // namespace zoniq
