// Counts every allocation through operator new, for tests that check that a numerical loop
// allocates nothing. Link the `zoniq_allocation_counter` objects into the test executable.
#pragma once

namespace zoniq::test {

// Allocations made so far by this process.
long AllocationCount();

}  // namespace zoniq::test
