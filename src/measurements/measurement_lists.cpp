#include "measurements/measurement_lists.hpp"

#include <algorithm>
#include <iterator>

#include "common/paths.hpp"

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

namespace {

constexpr const char* kMeasurementFolder = "measurements";
constexpr std::array<const char*, kMeasurementKinds> kPatterns = {"*.qe", "*.iv", "*.cv", "*.cf"};

}  // namespace

int LoadMeasurement(const Environment& env, MeasurementState& state, const std::string& path, int kind) {
  ReadResult<MeasurementItem> read = ConstructMeasurementListItem(path, kind);
  for (const MeasurementNotice& n : read.notices) env.Error(n.title, n.message);
  if (!read.ok()) {
    env.Error("Error whilst reading a measurement file", read.error);
    return -1;
  }
  return InsertMeasurementInStack(state, std::move(*read.value));
}

int AddReplaceMeasurement(const Environment& env, MeasurementState& state, int kind) {
  if (kind < 0 || kind >= kMeasurementKinds || !env.ui) return -1;
  const std::optional<std::string> chosen =
      env.ui->FileSelectPopup(JoinPath(env.programFolder, kMeasurementFolder),
                              kPatterns[static_cast<std::size_t>(kind)], "Select (a) measurement file(s)", false);
  if (!chosen || chosen->empty()) return 0;
  return LoadMeasurement(env, state, NativePath(*chosen), kind) < 0 ? -1 : 1;
}

std::optional<std::string> KiesCurveFitMeting(const Environment& env, int fitType) {
  const int kind = MeasurementKindOfFitType(fitType);
  if (kind < 0 || !env.ui) return std::nullopt;
  static constexpr std::array<const char*, kMeasurementKinds> kPrompts = {
      "Select a file with a QE-measurement", "Select a file with an IV-measurement",
      "Select a file with a CV-measurement", "Select a file with a Cf-measurement"};
  const auto k = static_cast<std::size_t>(kind);
  std::optional<std::string> chosen =
      env.ui->FileSelectPopup(JoinPath(env.programFolder, kMeasurementFolder), kPatterns[k], kPrompts[k], false);
  if (!chosen || chosen->empty()) return std::nullopt;
  return chosen;
}

}  // namespace zoniq
