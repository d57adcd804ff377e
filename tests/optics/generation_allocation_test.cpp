// Recomputing the generation while the solver runs allocates nothing: the light ramp, a sweep
// that starts from a stored solution, and the flux of a spectrum on an unchanged mesh.
#include <gtest/gtest.h>

#include <cmath>

#include "allocation_counter.hpp"
#include "optics/generation.hpp"
#include "optics/spectrum.hpp"
#include "solver/dc_solve.hpp"
#include "solver/test_cells.hpp"

namespace zoniq {
namespace {

TEST(GenerationAllocation, NoneOnAnUnchangedMesh) {
  DcProblem pb;
  ASSERT_EQ(SetUpDcProblem(pb, test::ThinFilmCell(false), MeshSettings{}), 0);
  CalculationVariables& cv = pb.cv;
  GenerationParameters gen;
  gen.wavelengths = {350.0, 500.0, 700.0, 900.0, 1100.0, 1500.0};
  gen.watt_lambda.assign(gen.wavelengths.size(), 1.0);
  gen.rightFilter.assign(gen.wavelengths.size(), 0.9);
  gen.leftFilter.assign(gen.wavelengths.size(), 0.5);
  gen.Rfront = 0.2;
  PrepareAbsorption(cv, gen);
  CalculateIncomingFluxes(gen, kPhotonsPerWattNm, 0);
  ASSERT_EQ(CalculateFluxes(cv, gen, 0), 1);
  CalculateGeneration(cv, gen);
  InstallGenerationHook(cv, gen);
  const long before = test::AllocationCount();
  for (int k = 4; k >= 0; --k) SetGenerationFactor(cv, gen, std::exp(-k));
  cv.regenerate(cv);  // unchanged: only the light factor is applied
  ASSERT_EQ(CalculateFluxes(cv, gen, 0), 1);
  CalculateGeneration(cv, gen);
  ASSERT_EQ(CalculateFluxesEverywhere(cv, gen, 2, 0), 1);
  const long after = test::AllocationCount();
  EXPECT_EQ(after - before, 0);
  EXPECT_GT(cv.G[cv.mesh.N / 2], 0.0);
}

}  // namespace
}  // namespace zoniq
