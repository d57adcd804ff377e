#include "measurements/measurement_lists.hpp"

#include <algorithm>
#include <iterator>

namespace zoniq {

int InsertMeasurementInStack(MeasurementState& state, MeasurementItem item) {
  const auto k = static_cast<std::size_t>(item.kind);
  std::list<MeasurementItem>& list = state.measurements[k];
  int position = 0;
  for (auto it = list.begin(); it != list.end(); ++it, ++position) {
    if (it->fileName == item.fileName) {
      *it = std::move(item);
      state.selectedMeasurement[k] = position;
      return position;
    }
  }
  list.push_back(std::move(item));
  state.selectedMeasurement[k] = static_cast<int>(list.size()) - 1;
  return state.selectedMeasurement[k];
}

bool RemoveMeasurement(MeasurementState& state, int kind, int position) {
  if (kind < 0 || kind >= kMeasurementKinds) return false;
  const auto k = static_cast<std::size_t>(kind);
  std::list<MeasurementItem>& list = state.measurements[k];
  if (position < 0 || position >= static_cast<int>(list.size())) return false;
  list.erase(std::next(list.begin(), position));
  int& selected = state.selectedMeasurement[k];
  if (selected == position)
    selected = list.empty() ? -1 : std::min(position, static_cast<int>(list.size()) - 1);
  else if (selected > position)
    --selected;
  return true;
}

const MeasurementItem* SelectedMeasurement(const MeasurementState& state, int kind) {
  if (kind < 0 || kind >= kMeasurementKinds) return nullptr;
  const auto k = static_cast<std::size_t>(kind);
  const int selected = state.selectedMeasurement[k];
  const std::list<MeasurementItem>& list = state.measurements[k];
  if (selected < 0 || selected >= static_cast<int>(list.size())) return nullptr;
  return &*std::next(list.begin(), selected);
}

void clearMeasurementData(MeasurementState& state) {
  for (auto& l : state.measurements) l.clear();
  state.selectedMeasurement.fill(-1);
}

}  // namespace zoniq
