#include "celldef/work_point.hpp"

#include <utility>

#include "common/paths.hpp"

namespace zoniq {

void InitialiseWorkPoint(WorkPoint& wp, const std::string& programFolder) {
  wp = WorkPoint{};
  wp.spectrumFile = JoinPath(JoinPath(programFolder, "spectrum"), "AM1_5G 1 sun.spe");
  wp.generationFile = JoinPath(JoinPath(programFolder, "generation"), "*.gen");
}

void CheckCutoffWavelengths(WorkPoint& wp) {
  double& lo = wp.shortWavelengthCutOff;
  double& hi = wp.longWavelengthCutOff;
  if (lo < 0) lo = 1.0;
  if (hi < 0) hi = 1.0;
  if (lo > hi) std::swap(lo, hi);
  if (hi - lo <= 0.001) hi = lo + 1.0;
}

double RshFromGsh(double GshPerCm2) { return GshPerCm2 < 1e-30 ? 1e30 : 1.0 / GshPerCm2; }

double GshFromRsh(double& RshOhmCm2) {
  if (RshOhmCm2 < 1e-6) {
    RshOhmCm2 = 1e-6;
    return 1e6;
  }
  return 1.0 / RshOhmCm2;
}

bool ValidNumberOfSteps(int steps) { return steps >= 2; }

}  // namespace zoniq
