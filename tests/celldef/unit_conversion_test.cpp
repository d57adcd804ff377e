// The practical units of the panels and scripts (parameter set 2) against the SI units of the
// definition file (parameter set 1): every converted quantity, set to 1 in practical units, must
// come out as the SI value of that unit (1 µm = 1e-6 m, 1 cm⁻³ = 1e6 m⁻³, 1 cm⁶/s = 1e-12 m⁶/s …).
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "celldef/cell_definition.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

struct Quantity {
  const char* name;
  double si;  // the SI value of one practical unit
  std::function<double&(CellDefinition&)> field;
};

TEST(UnitConversion, EveryQuantityTakesItsUnitFactor) {
  const Quantity quantities[] = {
      {"thickness [µm]", 1e-6, [](CellDefinition& c) -> double& { return c.layer[1].d; }},
      {"Sn [cm/s]", 1e-2, [](CellDefinition& c) -> double& { return c.leftContact.Sn; }},
      {"Sp [cm/s]", 1e-2, [](CellDefinition& c) -> double& { return c.rightContact.Sp; }},
      {"vth_p [cm/s]", 1e-2, [](CellDefinition& c) -> double& { return c.layer[1].v_th_p.p[0]; }},
      {"NC [cm⁻³]", 1e6, [](CellDefinition& c) -> double& { return c.layer[1].Nc.p[1]; }},
      {"ND [cm⁻³]", 1e6, [](CellDefinition& c) -> double& { return c.layer[1].Nd.p[0]; }},
      {"mu_n [cm²/Vs]", 1e-4, [](CellDefinition& c) -> double& { return c.layer[1].mu_n.p[0]; }},
      {"mu_p [cm²/Vs]", 1e-4, [](CellDefinition& c) -> double& { return c.layer[1].mu_p.p[1]; }},
      {"K_rad [cm³/s]", 1e-6, [](CellDefinition& c) -> double& { return c.layer[1].K_rad.p[0]; }},
      {"C_n Auger [cm⁶/s]", 1e-12, [](CellDefinition& c) -> double& { return c.layer[1].c_n_auger.p[0]; }},
      {"C_p Auger [cm⁶/s]", 1e-12, [](CellDefinition& c) -> double& { return c.layer[1].c_p_auger.p[1]; }},
      {"absorption A [1/cm·eV^½]", 1e2, [](CellDefinition& c) -> double& { return c.layer[1].A[0]; }},
      {"sigma_n [cm²]", 1e-4, [](CellDefinition& c) -> double& { return c.layer[1].srh[0][0].sigma_n; }},
      {"sigma_p [cm²]", 1e-4, [](CellDefinition& c) -> double& { return c.layer[1].srh[0][1].sigma_p; }},
      {"defect Nt [cm⁻³]", 1e6, [](CellDefinition& c) -> double& { return c.layer[1].srh[0][0].Nt.p[0]; }},
      {"defect Lkar [µm]", 1e-6, [](CellDefinition& c) -> double& { return c.layer[1].srh[0][0].Lkar; }},
      {"interface sigma [cm²]", 1e-4, [](CellDefinition& c) -> double& { return c.interface[0].ifr[0].sigma_pright; }},
      {"interface Nt [cm⁻²]", 1e4, [](CellDefinition& c) -> double& { return c.interface[0].ifr[0].N; }},
  };
  for (const Quantity& q : quantities) {
    SCOPED_TRACE(q.name);
    CellDefinition practical;
    q.field(practical) = 1.0;
    InputParameters set1;
    parameterset2_to_1(set1, practical);
    EXPECT_CLOSE(q.field(set1.cellParas), q.si, 1e-14, 0.0);
    // and back
    CellDefinition again;
    parameterset1_to_2(again, set1);
    EXPECT_CLOSE(q.field(again), 1.0, 1e-14, 0.0);
  }
}

}  // namespace
}  // namespace zoniq
