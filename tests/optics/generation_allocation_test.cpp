// Recomputing the generation while the solver runs allocates nothing: the light ramp, a sweep
// that starts from a stored solution, and the flux of a spectrum on an unchanged mesh.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

#include "optics/generation.hpp"
#include "optics/spectrum.hpp"
#include "solver/dc_solve.hpp"
#include "solver/test_cells.hpp"

// Allocation counter; the replacement pair uses malloc and free, which GCC cannot match up.
namespace {
std::atomic<long> gAllocations{0};
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t n) {
  ++gAllocations;
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  ++gAllocations;
  return std::malloc(n == 0 ? 1 : n);
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

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
  const long before = gAllocations.load();
  for (int k = 4; k >= 0; --k) SetGenerationFactor(cv, gen, std::exp(-k));
  cv.regenerate(cv);  // unchanged: only the light factor is applied
  ASSERT_EQ(CalculateFluxes(cv, gen, 0), 1);
  CalculateGeneration(cv, gen);
  ASSERT_EQ(CalculateFluxesEverywhere(cv, gen, 2, 0), 1);
  const long after = gAllocations.load();
  EXPECT_EQ(after - before, 0);
  EXPECT_GT(cv.G[cv.mesh.N / 2], 0.0);
}

}  // namespace
}  // namespace zoniq
