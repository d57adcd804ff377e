// The curve-fitting settings file (".scf", in the "bdf" folder): the fitter's settings, its
// parameters (batch-parameter labels, range, start, scale) and its measurements, one item per
// line as "key : value"; and the results table of a run (".xls", tab-separated).
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_setup.hpp"
#include "celldef/cell_definition.hpp"
#include "fit/curve_fitter.hpp"
#include "settings/settings_files.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

inline constexpr const char* kFitReadTitle = "Error whilst reading curve fitting settings from scf file";

// The type text of a fixed parameter: "integer (right=+1 / left=-1)" for the illumination side,
// "integer (on=1 / off=0)" for other switches, "string (a filename)" for files, "double (a
// value)" otherwise (fixedType 1, 1, 3, 2).
std::string FixedParameterTypeText(const std::array<int, 4>& label);
int FixedParameterTypeOf(const std::array<int, 4>& label);

// The batch parameter of a fit parameter's label.
BatchParameter AsBatchParameter(const std::array<int, 4>& label);
// A measurement's fixed parameter as the batch would set it: a file name is a list of one file.
BatchParameter FixedBatchParameter(const CurveFitMeasurement& m);

// The body of the settings file (everything after the common header). Measurement files are
// written as `fileNames` gives them (the folder check of the caller), or as stored when empty.
std::string CurveFittingSettingsText(const CurveFitter& fitter, const std::vector<std::string>& fileNames = {});
int SaveCurveFittingSettingsInFile(std::FILE* file, UserInterface& ui, const HeaderInfo& header,
                                   const CurveFitter& fitter, const std::vector<std::string>& fileNames = {});

// Parses the text into the settings, parameters and measurements of `out` (a fresh record; its
// run state is cleared). Nothing is checked against a cell and no measurement file is read.
// Returns 0, or -1 (reported with the file and line) for a line that cannot be taken.
int ParseCurveFittingSettings(const Environment& env, std::string_view text, const std::string& fileName,
                              CurveFitter& out);

// Reads a measurement's points for its type (x, y as the type compares them). Returns 0, or -1
// (reported).
using MeasurementLoader = std::function<int(const Environment& env, const std::string& fullPath, int type,
                                            std::vector<double>& x, std::vector<double>& y)>;

// Reads a settings file (a bare name is looked for in the "bdf" folder), discards with a message
// the parameters and fixed parameters that `cell` cannot vary and the measurements whose file is
// missing or unreadable, and reads the measured points with `loader`. `fitter` is replaced only
// when the file was read. Returns 0, or -1 (reported).
int SetCurveFittingFromFile(const Environment& env, std::string_view name, const CellDefinition& cell,
                            const MeasurementLoader& loader, CurveFitter& fitter);

// The results table of the last run; "No curve fitting calculatieons done: nothing to save or
// to show !" (returned in `why`) when nothing ran.
bool CurveFitResultsText(const CurveFitter& fitter, std::string& text, std::string& why);
int curvefittingresults_naar_file(const Environment& env, std::FILE* file, const CurveFitter& fitter);

}  // namespace zoniq
