// QE of an n⁺p cell against Hovel's closed forms (Hovel, Semiconductors and Semimetals 11, 1975):
// emitter, depletion region and base with known diffusion lengths and surface velocities, the
// light entering the emitter, α = A·sqrt(hν − Eg).
#include <gtest/gtest.h>

#include <cmath>

#include "measure/driver_fixture.hpp"
#include "solver/test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

TEST(QEHovel, NPlusPCellMatchesTheClosedForms) {
  // Base p 1e22 /m³, 12 µm, τn = 20 ns (Ln = 2.28 µm); emitter n⁺ 1e24 /m³, 0.3 µm, τp = 1 ns
  // (Lp = 0.51 µm); ohmic contacts (S = 1e7 m/s).
  test::PnOptions o;
  o.Wp = 12e-6;
  o.Wn = 0.3e-6;
  o.NA = 1e22;
  o.ND = 1e24;
  InputParameters set = test::PnJunction(o);
  for (int l = 0; l < 2; ++l) set.cellParas.layer[l].A = {1e7, 1e7};
  const double vth = 1e5, sigma = 1e-19;
  const double taun = 20e-9, taup = 1e-9;
  test::AddSingleLevelDefect(set, 0, 0.56, 1.0 / (sigma * vth * taun), sigma);
  test::AddSingleLevelDefect(set, 1, 0.56, 1.0 / (sigma * vth * taup), sigma);

  test::Bench b(set);
  b.s.wp.dark = 1;
  b.s.wp.illuminatedFromRight = 1;
  b.s.actie.iv.on = 0;
  b.s.actie.qe = QEAction{1, 400, 1100, 15, 0};
  b.cell.definitionExtras.qe.mode = 0;
  b.cell.definitionExtras.qe.numberOfPhotons = 1e17;
  ASSERT_EQ(b.Calculate(), 0);
  const QEResult& r = b.s.CurrentRecord()->qe;
  ASSERT_EQ(r.pointsDone, 15);

  const double Vt = 0.0259, D = Vt * 0.01;
  const double Ln = std::sqrt(D * taun), Lp = std::sqrt(D * taup);
  const double ni2 = 1e50 * std::exp(-1.12 / Vt);
  const double Vbi = Vt * std::log(o.NA * o.ND / ni2);
  const double W = std::sqrt(2.0 * 11.9 * kEps0 * Vbi / kQ * (o.NA + o.ND) / (o.NA * o.ND));
  const double xn = W * o.NA / (o.NA + o.ND), xp = W - xn;
  const double xj = o.Wn - xn;      // quasi-neutral emitter
  const double H = o.Wp - xp;       // quasi-neutral base
  const double Sn = 1e7, Sp = 1e7;  // contacts
  for (int i = 0; i < 15; ++i) {
    const double lambda = r.lambda[static_cast<std::size_t>(i)];
    const double hv = 1239.977 / lambda;
    const double a = hv > 1.12 ? 1e7 * std::sqrt(hv - 1.12) : 0.0;
    double qe = 0.0;
    if (a > 0.0) {
      const double sp = Sp * Lp / D, sn = Sn * Ln / D;
      const double aLp = a * Lp, aLn = a * Ln;
      const double emitter = aLp / (aLp * aLp - 1.0) *
                             ((sp + aLp - std::exp(-a * xj) * (sp * std::cosh(xj / Lp) + std::sinh(xj / Lp))) /
                                  (sp * std::sinh(xj / Lp) + std::cosh(xj / Lp)) -
                              aLp * std::exp(-a * xj));
      const double depletion = std::exp(-a * xj) * (1.0 - std::exp(-a * W));
      const double base =
          aLn / (aLn * aLn - 1.0) * std::exp(-a * (xj + W)) *
          (aLn - (sn * (std::cosh(H / Ln) - std::exp(-a * H)) + std::sinh(H / Ln) + aLn * std::exp(-a * H)) /
                     (sn * std::sinh(H / Ln) + std::cosh(H / Ln)));
      qe = 100.0 * (emitter + depletion + base);
    }
    EXPECT_NEAR(r.QE[static_cast<std::size_t>(i)], qe, 1.0) << lambda;  // the issue: 1 % absolute (0.16 % seen)
  }
}

}  // namespace
}  // namespace zoniq
