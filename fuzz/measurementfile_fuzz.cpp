// Fuzzes the reader of measured curves: the bytes become a measurement file read as each kind
// and as the curve of each fit type. Whatever the bytes, nothing may crash or hang; a read
// either gives points (at most the cap, every array of its length) or says why not, and a fit
// curve holds finite points only.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "fuzz_support.hpp"
#include "measurements/measurement_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zoniq;
  static const std::string path = fuzz::InputPath("measurementfile_fuzz");
  if (!fuzz::WriteInput(path, data, size)) return 0;
  for (int kind = 0; kind < kMeasurementKinds; ++kind) {
    const ReadResult<MeasurementItem> r = ConstructMeasurementListItem(path, kind);
    if (!r.ok()) {
      fuzz::Require(!r.error.empty());
      continue;
    }
    const MeasurementItem& m = *r.value;
    fuzz::Require(m.nPoints >= 1 && m.nPoints <= kMaxMeasurementPoints && m.valid == 1);
    fuzz::Require(m.area > 0.0 && std::isfinite(m.area) && m.temperature > 0.0);
    const auto n = static_cast<std::size_t>(m.nPoints);
    std::visit(
        [n](const auto& d) {
          using T = std::decay_t<decltype(d)>;
          if constexpr (std::is_same_v<T, IVMeasurement>) fuzz::Require(d.V.size() == n && d.J.size() == n);
          if constexpr (std::is_same_v<T, CVMeasurement>)
            fuzz::Require(d.V.size() == n && d.C.size() == n && d.G.size() == n && d.W.size() == n &&
                          d.Napp.size() == n);
          if constexpr (std::is_same_v<T, CfMeasurement>)
            fuzz::Require(d.f.size() == n && d.ReZ.size() == n && d.ImZ.size() == n && d.Gw.size() == n);
          if constexpr (std::is_same_v<T, QEMeasurement>) fuzz::Require(d.lambda.size() == n && d.hv.size() == n);
        },
        m.data);
  }
  for (int type = 1; type <= 20; ++type) {
    const ReadResult<FitCurve> r = ReadFitMeasurement(path, type);
    if (!r.ok()) continue;
    fuzz::Require(!r.value->x.empty() && r.value->x.size() == r.value->y.size() &&
                  r.value->weight.size() == r.value->x.size());
    for (std::size_t i = 0; i < r.value->x.size(); ++i)
      fuzz::Require(std::isfinite(r.value->x[i]) && std::isfinite(r.value->y[i]));
  }
  return 0;
}
