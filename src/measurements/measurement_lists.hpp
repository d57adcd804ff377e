// The measured curves a session holds: one ordered list per kind, and the measurement of each
// kind that the script's "get meas.…" commands and the graphs use.
#pragma once

#include <array>
#include <list>
#include <optional>
#include <string>

#include "measurements/measurement_file.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

struct MeasurementState {
  // Indexed by MeasurementKind (QE, I-V, C-V, C-f).
  std::array<std::list<MeasurementItem>, kMeasurementKinds> measurements;
  // Position of the selected measurement in its list; -1 when none is selected.
  std::array<int, kMeasurementKinds> selectedMeasurement{-1, -1, -1, -1};
};

// Adds a read measurement to the list of its kind, replacing one of the same file name in place,
// and selects it. Returns its position.
int InsertMeasurementInStack(MeasurementState& state, MeasurementItem item);
// Removes the measurement at `position` of a kind's list (the selection follows); false when
// there is none.
bool RemoveMeasurement(MeasurementState& state, int kind, int position);
// The selected measurement of a kind, or null.
const MeasurementItem* SelectedMeasurement(const MeasurementState& state, int kind);
// Empties every list.
void clearMeasurementData(MeasurementState& state);

// Lets the user choose a measurement file of a kind (folder "measurements" of the program folder,
// pattern "*.iv", "*.cv", "*.cf" or "*.qe"), reads it and adds it to its list. Returns 1 when
// added, 0 when the user cancelled, -1 when the file could not be read (reported; the list is
// unchanged).
int AddReplaceMeasurement(const Environment& env, MeasurementState& state, int kind);
// Reads a measurement file into the list of its kind, reporting the notices and a failure under
// "Error whilst reading a measurement file". Returns the position in the list, or -1.
int LoadMeasurement(const Environment& env, MeasurementState& state, const std::string& path, int kind);

// The curve fitter's choice of the file of a measurement of type `fitType` (1..20): the prompt
// and pattern of its kind in the "measurements" folder. Empty when cancelled or for an unknown
// type.
std::optional<std::string> KiesCurveFitMeting(const Environment& env, int fitType);

}  // namespace zoniq
