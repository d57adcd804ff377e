// The batch: up to nine batch parameters, each stepping through a linear or logarithmic range
// or a list of values or file names, nested one inside the other (the first parameter is the
// outermost loop) or stepping together with the parameter before it, optionally inside a list
// of definition files. A batch parameter names the quantity it varies by four labels, from the
// general to the specific (where, what, which property, which part); the labels resolve to the
// same cell parameter the script's set and get commands use, or to a working-point value.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "celldef/cell_parameters.hpp"
#include "celldef/cell_state.hpp"
#include "celldef/work_point.hpp"

namespace zoniq {

inline constexpr int kMaxBatchParameters = 9;
inline constexpr int kMaxBatchListEntries = 2500;  // values or file names of one list file
// A batch this long would run for years; a bigger grid is almost always a typing error.
inline constexpr long long kMaxBatchSteps = 1000000;
inline constexpr int kNihil = -1;  // an unused label

// The four vocabularies, in the order in which keywords are matched.
extern const std::vector<std::string> kBatchLabel1;          // where
extern const std::vector<std::string> kBatchLabel2;          // what
extern const std::vector<std::string> kBatchLabel3;          // which property
extern const std::vector<std::string> kBatchLabel4;          // which part
const std::vector<std::string>& BatchVocabulary(int label);  // label 1 … 4

// Code to keyword ("nihil" for kNihil or an unknown code) and keyword to code (kNihil when the
// text is "nihil"; -2 when it is no keyword). A keyword matches a text that equals it (blanks at
// the ends aside) or that it begins, without regard to case, in the order listed.
std::string BP_constantToBatchKeyWord(int label, int code);
int BatchKeyWordToBP_constant(int label, std::string_view text);

struct BatchParameter {
  int simultaneous = 0;  // 1: steps together with the parameter before it
  double startValue = 0.0;
  double stopValue = 0.0;
  double currentValue = 0.0;
  int logarithmic = 0;
  int numberOfSteps = 1;
  int currentStep = 0;
  std::array<int, 4> label{kNihil, kNihil, kNihil, kNihil};
  int valuesFromList = 0;
  int listSaved = 0;  // the list file's folder and name are kept in the settings file
  std::string filePath, fileName;
  std::vector<double> valueList;
  std::vector<std::string> fileNameList;
  int valuesAreFileNames = 0;

  bool operator==(const BatchParameter&) const = default;
};

struct BatchSetup {
  int numberOfParameters = 0;
  long long stepCounter = 0;
  long long numberOfSteps = 0;
  int currentDefinitionFile = -1;
  int variationOfDefinitionFiles = 0;
  std::string definitionFileListPath;
  std::vector<std::string> definitionFiles;  // as written in the settings file (bare names)
  std::array<std::string, kMaxBatchParameters> parameterLines;
  std::string statusText;
  std::array<BatchParameter, kMaxBatchParameters> bp;
};

void InitialiseBatch(BatchSetup& batch);

// The value of a parameter at step i: a range value, a list value, or for a list of file
// names the index itself. A logarithmic range with an end ≤ 0 gives the start value (the
// check before a run reports it). Out-of-range steps give the start value.
double GetParaValue(const BatchParameter& bp, int i);

// The number of steps of the whole batch: definition files (1 when they do not vary) times the
// step counts of the nested parameters. Returns false with the reason in `why` when a count is
// below 1, a parameter stepping together with another has a different count, or the batch is
// larger than kMaxBatchSteps.
bool CountBatchSteps(const BatchSetup& batch, long long& steps, std::string& why);

// The position of one step of the batch: the definition file (-1 when they do not vary) and the
// step of each parameter. Steps count from 0 in nested order (the first parameter outermost).
struct BatchStepPosition {
  int definitionFile = -1;
  std::array<int, kMaxBatchParameters> step{};
};
BatchStepPosition StepPosition(const BatchSetup& batch, long long step);

// What a batch parameter changes, resolved against a cell.
enum class BatchTargetKind {
  kCell,
  kTemperature,
  kVoltage,
  kFrequency,
  kRs,
  kRsh,
  kGsh,
  kNeutralDensity,
  kTransmission,
  kAttenuation,
  kShortCutOff,
  kLongCutOff,
  kSpectrumFile,
  kGenerationFile
};
struct BatchTarget {
  BatchTargetKind kind = BatchTargetKind::kCell;
  CellParameter cell;        // kCell
  bool initialWork = false;  // working-point kinds: the initial (second) working point
  std::string scriptName;    // the cell parameter's name in the script's notation (kCell)
};

// Resolves the labels of `bp` against `cell`. False, with a reason, when the combination names
// nothing this cell has or nothing this program can vary.
bool ResolveBatchParameter(const CellDefinition& cell, const BatchParameter& bp, BatchTarget& target, std::string& why);

// Whether a change of this quantity needs the cell converted and solved again from the
// equilibrium; only the bias, the frequency and the external circuit can carry the previous
// working point over.
bool NeedsRebuild(const BatchTarget& target);

// Puts `value` (practical units; for a list of file names the file index) into the cell or
// the working points (`ChangeValue`). False, with the reason, when the value is not acceptable.
bool ChangeValue(CellDefinition& cell, WorkPoint& wp, WorkPoint& secondwp, const BatchParameter& bp,
                 const BatchTarget& target, double value, std::string& why);

// The text line of a parameter: the labels, labels 2 to 4 each preceded by ">>", then ":\t" and
// the value (sci 10.3) or, for a list of file names, the file name of the value.
std::string MakeBatchParasString(const BatchParameter& bp, double value, bool withValue = true);
// The labels alone ("layer 1>>thickness>>nihil>>nihil").
std::string BatchLabelText(const BatchParameter& bp);

}  // namespace zoniq
