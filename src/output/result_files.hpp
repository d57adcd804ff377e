// The result files: I-V curves with the cell parameters (".iv"), the band diagram (".eb"), and
// the generation-recombination profiles (".gen") or occupation probabilities (".occ") of the
// last solved working point. Tab-separated text for spreadsheets, each block opening with the
// common header of its simulation.
//
// Every writer is called in a mode: show (the text goes to the standard output), save (the user
// picks a file in the dialog; cancelling writes nothing), write to a file the caller has open
// (the script's save command; the file stays open), or, for the band diagram, fill a result
// structure instead of writing text.
#pragma once

#include <cstdio>
#include <list>
#include <string>

#include "measure/simulation_record.hpp"
#include "measure/small_signal.hpp"
#include "output/band_diagram.hpp"
#include "output/output_header.hpp"
#include "solver/calculation_variables.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

enum OutputMode { kOutputShow = 0, kOutputSave = 1, kOutputFill = 2, kOutputOpenFile = 3 };

// "output list after a convergence error": how the rows of sweep points that were not
// calculated are written.
enum ActionListModeValue { kListTruncate = 0, kListFillZeros = 1, kListFillWhite = 2 };

struct OutputTarget {
  int mode = kOutputShow;
  // Mode 3: the caller's open file (not closed). Mode 0: the standard output window; null
  // means the process's standard output.
  std::FILE* file = nullptr;
};

// What every writer needs besides its data: where messages and the save dialog go (the dialog
// opens in the program folder's sub-folder for the kind of file), the header's version line
// and file dates, and the padding of unfinished sweeps.
struct OutputContext {
  const Environment* env = nullptr;
  HeaderContext header;
  int actionListMode = kListTruncate;
};

// Outcome of a writer: 1 the text was written (or, in mode 2, the structure filled); 0 nothing
// was written (nothing calculated yet, no record of the kind, the dialog was cancelled, or a
// mode the writer does not serve); −1 the file could not be opened or written (reported).
inline constexpr int kWritten = 1;
inline constexpr int kNothingWritten = 0;
inline constexpr int kWriteFailed = -1;

// The I-V file: one block per record holding an I-V result, oldest first. Modes 0, 1, 3.
int iv_naar_file(const std::list<SimulationRecord>& records, const OutputTarget& target, const OutputContext& context);
// The text of one record's I-V block (header, table, padding, cell parameters, three empty
// lines); empty when the record holds no I-V result.
std::string IVBlock(const SimulationRecord& record, const OutputContext& context);

// The C-V, C-f and QE files: one block per record holding such a result, oldest first (the
// C-V block with the N(W) columns when more than 3 points were calculated). Modes 0, 1, 3.
int cv_naar_file(const std::list<SimulationRecord>& records, const OutputTarget& target, const OutputContext& context);
int cf_naar_file(const std::list<SimulationRecord>& records, const OutputTarget& target, const OutputContext& context);
int qe_naar_file(const std::list<SimulationRecord>& records, const OutputTarget& target, const OutputContext& context);
std::string CVBlock(const SimulationRecord& record, const OutputContext& context);
std::string CfBlock(const SimulationRecord& record, const OutputContext& context);
std::string QEBlock(const SimulationRecord& record, const OutputContext& context);

// The small-signal profiles of the current solution (`ac` at ω = omega [rad/s] and bias [V];
// null: none calculated). Modes 0, 1, 3.
int ac_naar_file(const SimulationRecord* current, const CalculationVariables& cv, const AcSolution* ac, double omega,
                 double bias, const OutputTarget& target, const OutputContext& context);
std::string AcFileText(const SimulationRecord& current, const CalculationVariables& cv, const AcSolution& ac,
                       double omega, double bias, const OutputContext& context);

// The band-diagram file of the current solution `cv` with the header of the current record
// (null: nothing calculated yet). Modes 0, 1, 3; in mode 2 `profiles` (may be null otherwise)
// receives the profiles instead.
int eb_naar_file(const SimulationRecord* current, const CalculationVariables& cv, const OutputTarget& target,
                 const OutputContext& context, BandDiagramProfiles* profiles = nullptr);
std::string BandDiagramFileText(const SimulationRecord& current, const CalculationVariables& cv,
                                const OutputContext& context);

// The generation-recombination profiles (".gen", `occupation` false) or the occupation
// probabilities of the defect levels (".occ", `occupation` true) of the current solution.
// Modes 0, 1, 3.
int gen_naar_file(const SimulationRecord* current, const CalculationVariables& cv, bool occupation,
                  const OutputTarget& target, const OutputContext& context);
std::string GenerationFileText(const SimulationRecord& current, const CalculationVariables& cv, bool occupation,
                               const OutputContext& context);
// The occupation part alone (called by gen_naar_file): the distribution lines and the table.
std::string ft_naar_file(const CalculationVariables& cv);

// The sub-folders of the program folder the save dialog opens in.
inline constexpr const char* kResultsFolder = "results";
inline constexpr const char* kGenerationFolder = "generation";
inline constexpr const char* kOccupationFolder = "occupation";

// Delivers a finished text by the target's mode: to the standard output, to a file the user
// picks in the dialog (folder, pattern and prompt of the writer), or to the caller's open file.
// Returns kWritten, kNothingWritten (cancelled; mode 2) or kWriteFailed.
int DeliverText(const std::string& text, const OutputTarget& target, const OutputContext& context,
                const std::string& folder, const char* pattern, const char* prompt);

}  // namespace zoniq
