// What a run came to, for the exit status and for the one-line-per-simulation summary file
// that batch jobs and analysis scripts collect (`zoniq --summary FILE`).
#pragma once

#include <cstddef>
#include <string>

namespace zoniq {

struct Session;

// True when the simulation started after the session held `recordsBefore` records ran to a
// complete result: not abandoned, the working point converged, and every point of a requested
// I-V sweep calculated.
bool SimulationComplete(const Session& session, std::size_t recordsBefore);

// The summary lines of a run: a CSV heading (only when `withHeading`), then one line per
// simulation record of the session (one "not simulated" line when there is none).
std::string SummaryText(const Session& session, int exitStatus, bool withHeading);

// Appends the summary lines to `path`, with the heading when the file is new or empty.
// Returns 0, or -1 when the file cannot be written.
int AppendSummary(const std::string& path, const Session& session, int exitStatus);

}  // namespace zoniq
