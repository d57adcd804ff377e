// The measured curves a session holds: one ordered list per kind, and the measurement of each
// kind that the script's "get meas.…" commands and the graphs use.
#pragma once

#include <array>
#include <list>
#include <string>

#include "measurements/measurement_file.hpp"

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

}  // namespace zoniq
