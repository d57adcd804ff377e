// The lines every result file opens with: the program version, the kind of result, the run it
// came from, the definition file, the illumination and the working point, and the batch or
// curve-fitting block. They let a result file be traced back to its inputs.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "common/format.hpp"
#include "measure/simulation_record.hpp"

namespace zoniq {

// Kinds of result (the title line of each).
enum ResultKind {
  kResultBandDiagram = 0,
  kResultGenerationRecombination = 1,
  kResultAc = 2,
  kResultIV = 3,
  kResultCV = 4,
  kResultCf = 5,
  kResultQE = 6,
  kResultOccupation = 7,
  kResultBatchGeneral = 8,
  kResultBatchInterface = 9,
  kResultAdmittance = 10,
  kResultGrading = 11,
  kResultCurveFitting = 12,
  kResultKinds = 13
};

// The title line of a kind; an empty text for a number outside the table.
const char* ResultTitle(int kind);

// Date and time of the last change of a file. A definition file named "new problem" (any
// case) was never saved: the present date and time stand in. False when the file cannot be
// found (`when` is then all zero).
bool ZONIQFileDateTime(std::string_view fileName, DateTime& when);
// The two halves of it: month, day and year; hours, minutes and seconds. Return 0, or −1 when
// the file cannot be found (the values are then zero).
int GetZONIQFileDate(std::string_view fileName, int& month, int& day, int& year);
int GetZONIQFileTime(std::string_view fileName, int& hours, int& minutes, int& seconds);

// Where the header takes the dates of files from (tests put a fixed clock here).
using FileDateSource = std::function<bool(std::string_view fileName, DateTime& when)>;

struct HeaderContext {
  std::string version;  // the version line of the program
  FileDateSource fileDate = ZONIQFileDateTime;
  // The attempt-to-escape frequency of the admittance analysis [Hz] (written for kind 10 only).
  double attemptToEscapeFrequency = 0.0;
};

// Appends the common header of a record for a kind of result; with `batchBlock` the batch or
// curve-fitting block follows.
void WriteOutputHeader(std::string& out, const SimulationRecord& record, int kind, bool batchBlock,
                       const HeaderContext& context);
// Appends the batch block (batch parameters, or else curve-fitting parameters; nothing for a
// single shot).
void WriteBatchInfo(std::string& out, const SimulationRecord& record);

}  // namespace zoniq
