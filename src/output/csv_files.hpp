// Result files as plain comma-separated values for analysis tools and spreadsheets: one
// heading row whose names carry the units, then one row per point, every row with the same
// number of fields; a simulation column tells the runs of a multi-run file apart. No header
// block, no blank lines, ASCII only (µm is written "um"), LF line ends. Fields holding a comma
// or a quote are quoted as RFC 4180 asks, so any CSV reader takes the file without options.
#pragma once

#include <list>
#include <string>
#include <string_view>

#include "measure/simulation_record.hpp"
#include "output/band_diagram.hpp"
#include "solver/calculation_variables.hpp"

namespace zoniq {

// True when a file name asks for the CSV form (extension ".csv", any case).
bool IsCsvFileName(std::string_view name);

// A number as the shortest text that reads back to the same double.
std::string CsvNumber(double v);

// One field, quoted when it holds a comma, a quote or a line break.
std::string CsvField(std::string_view text);

// The I-V curves of every record that holds one: simulation, V and the eight current densities.
// Only calculated points are written. Empty when no record holds an I-V result.
std::string IVCsv(const std::list<SimulationRecord>& records);

// The C-V, C-f and QE curves of every record that holds one, in the same form: simulation, then
// the sweep's quantities. Only calculated points are written; empty when no record holds one.
std::string CVCsv(const std::list<SimulationRecord>& records);
std::string CfCsv(const std::list<SimulationRecord>& records);
std::string QECsv(const std::list<SimulationRecord>& records);

// The bulk table of a band diagram: layer, mesh index, position and every profile. A mesh point
// on an interface appears once per layer, as in the tab-separated file.
std::string BandDiagramCsv(const BandDiagramProfiles& profiles);

// A tab-separated table (a line of titles, then rows of numbers, each field followed by a tab)
// turned into CSV: the generation-recombination and occupation tables.
std::string TabTableToCsv(std::string_view table);

}  // namespace zoniq
