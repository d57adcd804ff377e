// Evaluation of a graded property (`Profile`) at a set of abscissae: compositions y of the
// mesh points for material properties, positions x [µm from the layer's left side] for
// position-graded densities. The fourteen interpolation laws run between the end values of
// the property (pure A / pure B, or left / right).
//
// The mesh evaluation of a layer (`Full_x_Dependence`) is a loop over these calls:
//   interpolation(layer.composition, positions, y, 0, env);          // y(x), setEnds 0
//   interpolation(layer.Eg, y, Eg, 1, env);                          // each material property
//   interpolation(layer.Nd, layer.Nd.dependence == DEP_POSITION ? positions : y, Nd, 1, env);
// and `Full_Nt_x_Dependence` evaluates Nt over y (dependence 0) or over the positions.
#pragma once

#include <span>
#include <vector>

#include "celldef/cell_definition.hpp"
#include "ui/error_message.hpp"

namespace zoniq {

// Evaluates `profile` at the abscissae `x` (ascending) into `values` (n = the smaller of the
// two sizes). Position dependence (1) runs from (x[0], p5) to (x[n-1], p6); composition (0)
// and uniform (2) from (0, p0) to (1, p1). When `setEnds` is 1, p5 and p6 become the first
// and last computed values; the uniform laws 0, 10 and 11 always set them.
// Law 12 reads the grading file (a bare name is looked for in the "grading" sub-folder of
// the program folder) and interpolates it linearly, its first column measured from the first
// abscissa. A grading file that cannot be used is reported under "Error whilst reading
// gradingfile"; the values are then 0, p5 and p6 are left alone, and -1 is returned.
// Returns 0 otherwise. Allocates nothing except for law 12.
int interpolation(Profile& profile, std::span<const double> x, std::span<double> values, int setEnds,
                  const Environment& env);

// The law of `profile` (with its parameters p2..p4, its grading file or its table) between
// the end points (xl, vl) and (xr, vr), evaluated at `x` into `values`. The uniform laws give
// vl everywhere. Used by `interpolation` and wherever a property's law is applied between
// other end values (the band gap between the pure materials' gaps of the absorption model).
// With `report` false a failing grading file is not reported (the caller has reported it).
// Returns 0, or -1 when the grading file could not be used (values 0).
int InterpolateBetween(const Profile& profile, double xl, double xr, double vl, double vr, std::span<const double> x,
                       std::span<double> values, const Environment& env, bool report = true);

// Reads a grading file: the points (position or composition, value), strictly rising in
// their first column. Returns the number of points, or -1 after reporting (when `report`)
// "Error whilst reading gradingfile" (unsorted, or no point could be read).
int ReadGradingFile(const std::string& name, std::vector<double>& x, std::vector<double>& v, const Environment& env,
                    bool report = true);

// Piecewise-linear interpolation in a table with rising abscissae `tx`: a value before the
// first point takes the first value, one after the last point the last value; 0 for an
// empty table.
double PiecewiseLinear(std::span<const double> tx, std::span<const double> tv, double x);

}  // namespace zoniq
