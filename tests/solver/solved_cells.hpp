// Test cells set up and solved, for the tests that start from a solved state.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "solver/dc_solve.hpp"
#include "solver/equations.hpp"
#include "solver/test_cells.hpp"

namespace zoniq::test {

// The problem of the cell set up on the given mesh, not yet solved.
inline std::unique_ptr<DcProblem> SetUp(const InputParameters& set, const MeshSettings& mesh = {}) {
  auto pb = std::make_unique<DcProblem>();
  EXPECT_EQ(SetUpDcProblem(*pb, set, mesh), 0) << pb->ctx.lastMessage;
  return pb;
}

// The cell solved in equilibrium.
inline std::unique_ptr<DcProblem> SolvedAtEquilibrium(const InputParameters& set, const MeshSettings& mesh = {}) {
  auto pb = SetUp(set, mesh);
  EXPECT_EQ(SolveEquilibrium(pb->cv), 0);
  return pb;
}

// The cell solved in the dark at `V` in `steps` bias steps, with its defect terms.
inline std::unique_ptr<DcProblem> SolvedInTheDark(const InputParameters& set, double V, int steps) {
  auto pb = SolvedAtEquilibrium(set);
  EXPECT_EQ(SolveDarkBias(pb->cv, V, steps), 0);
  EXPECT_GE(ComputeDefectTerms(pb->cv), 0);
  return pb;
}

// A p⁺ (NA = 1e23 m⁻³, 1 µm) / n (ND = 1e21 m⁻³, 3 µm) junction: in reverse bias the depletion
// region lies in the n side, where a deep level crosses the Fermi level.
inline InputParameters OneSidedJunction() {
  PnOptions o;
  o.Wp = 1e-6;
  o.Wn = 3e-6;
  o.NA = 1e23;
  o.ND = 1e21;
  return PnJunction(o);
}

}  // namespace zoniq::test
