// The solar-cell parameters of an I-V curve (Voc, Jsc, FF, efficiency, maximum-power point) and
// the merge of the voltage grids of an I-V and a C-V sweep.
#pragma once

#include <span>
#include <vector>

#include "celldef/work_point.hpp"
#include "measure/simulation_record.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

// The illumination under which a curve was taken, as far as the cell parameters need it.
struct IVIllumination {
  int dark = 0;
  double incidentPower = 0.0;           // [W/m2]
  int generationFromFile = 0;           // 1: the efficiency is the collection efficiency
  double attenuation = 100.0;           // [%] applied to the generation file
  double idealGenerationCurrent = 0.0;  // [mA/cm2] of the unattenuated generation file
  // The smallest band gap of the cell [eV]: no open-circuit voltage lies above Eg/q, so an
  // extrapolated Voc beyond it is not determined. 0: not known (no limit).
  double bandGap = 0.0;
};

// The illumination of a simulated curve: that of the working point, with 1000 W/m2 standing in
// for the incident power when the generation comes from a file.
IVIllumination IlluminationOf(const WorkPoint& wp);

// The cell parameters of the curve J(V) [V, mA/cm2], in any voltage order: the curve is
// evaluated as a copy sorted by ascending voltage (equal voltages merged, non-finite points
// dropped). Jsc from the quadratic through the three points around 0 V (straight line from the
// two nearest points when 0 V lies outside the curve), Voc likewise around the first sign change
// of J inside the curve (straight line from the two points nearest the crossing when J keeps its
// sign), the maximum power at the largest −J·V refined by an exponential fit through its
// neighbours. An extrapolated Voc above Eg/q (`light.bandGap`) is not determined. Returns 1
// when the parameters were computed, 0 when not (dark, fewer than two distinct voltages); `out`
// is then all zero. `env` (may be null) receives the warnings of extrapolated parameters and of
// a curve that does not bend as a diode's does at its maximum-power point, as error messages
// (they count for the exit status of a run).
int IVParameters(std::span<const double> V, std::span<const double> J, const IVIllumination& light, CellParameters& out,
                 const Environment* env = nullptr);

// The merged voltage grid of an I-V and a C-V sweep: both lists sorted ascending and merged, a
// voltage appended only when it lies more than 1e-5 V above the last one appended (the I-V point
// wins a tie). `index[k]` is the entry's index in its own list, `origin[k]` 1 for I-V and 2 for
// C-V. An empty list leaves the other in its own order. Returns the merged count.
int merge_IV_and_CV(std::span<const double> vIV, std::span<const double> vCV, std::vector<int>& index,
                    std::vector<int>& origin);

}  // namespace zoniq
