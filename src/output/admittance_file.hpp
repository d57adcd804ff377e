// The admittance-spectroscopy file (".as"): per analysed C-f curve, the common header (with the
// attempt-to-escape frequency) and a table of f, C, E_omega, −dC/d ln(omega) and Nt.
#pragma once

#include <list>
#include <string>

#include "measure/admittance_analysis.hpp"
#include "output/result_files.hpp"

namespace zoniq {

// The text of one record's block; empty when its curve holds no analysis.
std::string ASBlock(const SimulationRecord& record, const AdmittanceSettings& s, const OutputContext& context);

// Analyses every record holding a C-f result with the present settings (so that curves added or
// settings changed since the last analysis are written as they are now), then writes one block
// per analysed curve, oldest first. Modes 0, 1, 3. Returns kWritten, kNothingWritten (no C-f
// result, no curve that could be analysed, or the dialog cancelled) or kWriteFailed.
int AS_naar_file(std::list<SimulationRecord>& records, const AdmittanceSettings& s, const MottSchottkySettings& ms,
                 const OutputTarget& target, const OutputContext& context);

}  // namespace zoniq
