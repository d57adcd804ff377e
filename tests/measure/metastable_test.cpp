// Metastable defects: the shares of the two configurations against detailed balance, their
// floors, the densities of a solved cell (also on a new mesh), the update loop under strong
// feedback, and the hand-over from the second working point to the simulation.
#include "solver/metastable.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "measure/driver_fixture.hpp"
#include "output/output_header.hpp"
#include "output/result_files.hpp"
#include "solver/dc_solve.hpp"
#include "solver/mesh.hpp"
#include "solver/test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

using namespace test;

// ln(fA/fD) in equilibrium, from the Boltzmann weights of the two configurations and the
// occupations of their levels: 2(EF − ET)/kT + ln(1 + e^((EA − EF)/kT)) − ln(1 + e^((EF − ED)/kT)).
double DetailedBalance(double EF, double ET, double EA, double ED, double kT) {
  return 2.0 * (EF - ET) / kT + std::log1p(std::exp((EA - EF) / kT)) - std::log1p(std::exp((EF - ED) / kT));
}

TEST(Metastable, SharesObeyDetailedBalanceInEquilibrium) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> logSigma(-22.0, -17.0), energy(0.05, 0.6), unit(0.0, 1.0);
  const double Eg = 1.2, EA = 0.15, ED = 1.02;
  for (const double T : {150.0, 300.0, 450.0})
    for (const double EF : {0.25, 0.45, 0.6, 0.8})
      for (int switches = 0; switches < 4; ++switches)
        for (int draw = 0; draw < 3; ++draw) {
          MetaStableDefectParameters m;
          m.electronProcess = switches & 1;
          m.holeProcess = switches >> 1;
          for (double* sigma : {&m.sigma_acc_n, &m.sigma_acc_p, &m.sigma_don_n, &m.sigma_don_p})
            *sigma = std::pow(10.0, logSigma(rng));
          int choice = static_cast<int>(unit(rng) * 8.0);
          interpretEactgiven(choice, m.givenEact, 0);
          for (double* E : {&m.Eact_EE, &m.Eact_HC, &m.Eact_EC, &m.Eact_HE}) *E = energy(rng);
          m.Eact_TR = 0.3 + 0.3 * unit(rng);
          m.reference = draw;  // above EV, above midgap, below EC
          const MetaEnergies e = DeriveMetaEnergies(m, Eg);
          const double kT = 0.0259 * T / 300.0, NC = 2.2e24, NV = 1.8e25;  // unequal velocities below
          MetaPointState s{.vn = 1.3e5, .vp = 0.8e5, .NC = NC, .NV = NV, .kT = kT};
          s.n = NC * std::exp((EF - Eg) / kT), s.p = NV * std::exp(-EF / kT);
          s.oA = 1.0 / (1.0 + std::exp((EA - EF) / kT)), s.oD = 1.0 / (1.0 + std::exp((EF - ED) / kT));
          EXPECT_NEAR(-MetaTargetLogRatio(m, e, s), DetailedBalance(EF, e.ET, EA, ED, kT), 1e-9)
              << "T " << T << " EF " << EF << " switches " << switches;
        }
}

TEST(Metastable, VanishingRatesKeepTheSharesAndFloorsAreNotZero) {
  const double yMax = kMetaMaxLogRatio;
  EXPECT_EQ(MetaStep(1.5, std::nan(""), 0.3, false), 1.5);  // a target that says nothing keeps the shares
  MetaStableDefectParameters m;
  const MetaEnergies e = DeriveMetaEnergies(m, 1.2);
  MetaPointState s{1e20, 1e22, 1e5, 1e5, 2e24, 2e25, 0.3, 0.4, 0.0259};
  // All cross sections 0: no rate at all, the shares stay (no 0/0).
  m.sigma_acc_n = m.sigma_acc_p = m.sigma_don_n = m.sigma_don_p = 0.0;
  EXPECT_TRUE(std::isnan(MetaTargetLogRatio(m, e, s)));
  // Nothing forms the acceptor configuration (its donor level is full): fA at the floor, not 0.
  m = MetaStableDefectParameters{};
  s.oD = 0.0;
  const double y = MetaTargetLogRatio(m, e, s);
  EXPECT_EQ(y, yMax);
  EXPECT_NEAR(MetaAcceptorShare(y) / 1e-100, 1.0, 1e-9);
  EXPECT_EQ(MetaAcceptorShare(y) + MetaDonorShare(y), 1.0);
}

// The thin-film cell of the solver tests whose absorber (layer 1) holds a metastable defect:
// donor configuration defect 1 (+/0 at EC − 0.1 eV), acceptor configuration defect 2 (0/− at
// EV + 0.15 eV), transition energy 0.19 eV above EV, total density Nt.
constexpr double kEA = 0.15, kED = 1.05, kET = 0.19, kEg = 1.15;
InputParameters MetaCell(double Nt, int electronProcess, int holeProcess) {
  InputParameters set = test::ThinFilmCell(false);
  LayerParameters& L = set.cellParas.layer[0];
  L.v_th_p = UniformProfile(7e4);
  const struct {
    int type, aard;
    double Et, sn, sp;
  } defects[] = {{DT_DONOR, 4, kED, 1e-19, 3e-20}, {DT_ACCEPTOR, 3, kEA, 2e-20, 5e-19}};
  for (const auto& d : defects) {
    test::AddSingleLevelDefect(set, 0, d.Et, 1e18, d.sn);
    BulkRecombinationParameters& level = L.srh[L.srhteller - 1][0];
    level.type = d.type, level.aard = d.aard, level.sigma_p = d.sp;
  }
  MetaStableDefectParameters& m = L.meta[0];
  m.switchedOn = 1, m.donorDefect = 0, m.acceptorDefect = 1, m.donorChargeState = 4;
  m.electronProcess = electronProcess, m.holeProcess = holeProcess;
  m.sigma_acc_n = 2e-19, m.sigma_acc_p = 7e-20, m.sigma_don_n = 4e-20, m.sigma_don_p = 3e-19;
  m.Eact_EC = 0.1, m.Eact_HC = 0.2, m.Eact_TR = kET;
  m.Nt = UniformProfile(Nt, DEP_UNIFORM);
  return set;
}

// Linear interpolation of (x, y) pairs at x0 (end values outside).
double Interpolate(const std::vector<double>& x, const std::vector<double>& y, double x0) {
  if (x0 <= x.front()) return y.front();
  for (std::size_t k = 1; k < x.size(); ++k)
    if (x0 <= x[k]) return x[k] == x[k - 1] ? y[k] : y[k - 1] + (x0 - x[k - 1]) / (x[k] - x[k - 1]) * (y[k] - y[k - 1]);
  return y.back();
}

// The acceptor and donor densities add up to the total at every point of the layer, the
// acceptor's is Nt·fA, and the solver's level record holds it.
void ExpectSplitDensities(const CalculationVariables& cv) {
  const MetaTransitionCalc& t = cv.meta.t[0][0];
  ASSERT_TRUE(t.on);
  const int f = cv.mesh.first[0];
  ASSERT_EQ(static_cast<int>(t.Nt.size()), cv.mesh.points[0]);
  for (int j = 0; j < cv.mesh.points[0]; ++j) {
    const double acc = cv.defectNt[0][1][j], don = cv.defectNt[0][0][j];
    EXPECT_NEAR((acc + don) / t.Nt[j], 1.0, 1e-12) << j;
    EXPECT_NEAR(acc / t.Nt[j], MetaAcceptorShare(t.y[f + j]), 1e-12) << j;
    EXPECT_EQ(cv.rec.layer[0][1].record(0, 0).Nt[j], acc) << j;
  }
}

TEST(Metastable, SolvedCellAsksForTheEquilibriumSharesAndKeepsThemSplitOnANewMesh) {
  for (const auto& [T, electronProcess, holeProcess] : {std::tuple{300.0, 1, 0}, {400.0, 0, 1}}) {
    SCOPED_TRACE(T);
    DcProblem p;
    ASSERT_EQ(SetUpDcProblem(p, MetaCell(1e21, electronProcess, holeProcess), MeshSettings{}, T), 0);
    CalculationVariables& cv = p.cv;
    ASSERT_EQ(SolveEquilibrium(cv), 0);
    Bereken_MetaUpdate_afwijking(cv);
    const MetaTransitionCalc& t = cv.meta.t[0][0];
    const MeshCarriers c = CarriersOf(cv);
    const double kT = cv.par->Vt;
    for (int i = cv.mesh.first[0] + 1; i < cv.mesh.last[0]; ++i) {
      // The Fermi level above EV from the electron density at the point.
      const double EF = kEg + kT * std::log(c.at(i).n() / cv.pt.NC[i]);
      EXPECT_NEAR(-t.yTarget[i], DetailedBalance(EF, kET, kEA, kED, kT), 1e-6) << i;
    }
    Update_Meta_Ratios(cv, 1.0, false);
    ExpectSplitDensities(cv);

    // A finer mesh: the shares follow by position, the densities stay split.
    const std::vector<double> x(&cv.mesh.xum[cv.mesh.first[0]], &cv.mesh.xum[cv.mesh.last[0]] + 1),
        y(&t.y[cv.mesh.first[0]], &t.y[cv.mesh.last[0]] + 1);
    p.par.mesh.recalculateMesh = 1, p.par.mesh.maxRatio = 1.1;
    ASSERT_EQ(RecalculateIntervals(cv, 0), 1);
    ASSERT_GT(cv.mesh.points[0], static_cast<int>(x.size()));
    for (int i = cv.mesh.first[0]; i <= cv.mesh.last[0]; ++i)
      EXPECT_NEAR(t.y[i], Interpolate(x, y, cv.mesh.xum[i]), 1e-9 * (1.0 + std::fabs(t.y[i]))) << i;
    ExpectSplitDensities(cv);
  }
}

using test::Bench;

// The shares of the absorber after a run in mode 1 (at the second working point).
MetaHandover SharesAt(Bench& b, double T) {
  const WorkPoint wp = b.s.wp;
  b.s.secondwp.temperature = T;
  EXPECT_EQ(calculate(b.cell, b.s, b.env, nullptr, nullptr, 1), 0);
  b.s.wp = wp;
  return MetaHandoverOf(b.s.currentCalcVars)[0][0];
}

TEST(Metastable, StrongFeedbackEndsConvergedOrFlagged) {
  // Twice the doping: all donors turn the absorber n-type, all acceptors doubly p-type.
  for (int clamping : {0, 1}) {
    SCOPED_TRACE(clamping);
    Bench b(MetaCell(2e22, 0, 0));
    ConvergenceParameters& conv = b.cell.parameterset1.convergence;
    conv.usemetaclamping = clamping;
    conv.clamp_meta = clamping ? 0.5 : 1.0;
    b.s.secondwp.temperature = 300.0;
    b.s.secondwp.dark = 1;
    ASSERT_EQ(calculate(b.cell, b.s, b.env, nullptr, nullptr, 1), 0);
    CalculationVariables& cv = b.s.currentCalcVars;
    ExpectSplitDensities(cv);
    // The shares the final solution asks for, against those it was computed with.
    Bereken_MetaUpdate_afwijking(cv);
    double deviation = 0.0;
    const MetaTransitionCalc& t = cv.meta.t[0][0];
    for (int i = cv.mesh.first[0]; i <= cv.mesh.last[0]; ++i)
      deviation = std::max(deviation, std::fabs(MetaAcceptorShare(t.yTarget[i]) - MetaAcceptorShare(t.y[i])));
    EXPECT_TRUE(b.s.MetaStableConvergenceFailure == 1 || deviation <= conv.termination_Meta_full) << deviation;
    // Undamped, the shares flip back and forth for all 250 updates; halving the step settles them.
    EXPECT_TRUE(clamping || b.s.MetaStableConvergenceFailure == 0);
  }
}

TEST(Metastable, AnUnsettledUpdateStaysFlaggedThroughTheSimulation) {
  Bench b(MetaCell(1e21, 1, 0));
  b.cell.parameterset1.convergence.maxmetaiter_full = 1;
  b.s.secondwp.dark = 1;
  b.s.wp.dark = 1;
  ASSERT_EQ(b.Calculate(), 0);
  EXPECT_EQ(b.s.WorkPointConvergenceFailure, 0);  // the simulation's own working point converged
  EXPECT_EQ(b.s.MetaStableConvergenceFailure, 1);
  ASSERT_FALSE(b.ui.popups.empty());
  EXPECT_EQ(b.ui.popups.back().message.rfind("No convergence in update metastable defects\nRemaining error: ", 0), 0u);
  const SimulationRecord* r = b.s.CurrentRecord();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->metaStableFailure, 1);
  std::string header;  // and the result files say so
  WriteOutputHeader(header, *r, 3, false, HeaderContext{});
  EXPECT_NE(header.find("Metastable defects NOT converged, remaining error\t"), std::string::npos);
}

TEST(Metastable, CellPreparedAt350KIsMeasuredAt250KWithThe350KShares) {
  Bench b(MetaCell(1e20, 1, 1));
  b.s.wp.temperature = 250.0;
  b.s.wp.voltage = 0.0;
  b.s.wp.dark = 1;
  b.s.secondwp.dark = 1;
  b.s.actie.iv.on = 0;
  b.s.actie.cv = VoltageSweepAction{1, -0.1, 0.0, 3, 0};  // an action list the update must not run or change
  const MetaHandover at250 = SharesAt(b, 250.0);
  const MetaHandover at350 = SharesAt(b, 350.0);
  ASSERT_EQ(b.Calculate(), 0);
  EXPECT_EQ(b.s.MetaStableConvergenceFailure, 0);
  // The working point and the action list are those of the simulation again, also in its record.
  EXPECT_EQ(std::make_tuple(b.s.wp.temperature, b.s.wp.numberOfSteps, b.s.wp.dark), std::make_tuple(250.0, 5, 1));
  EXPECT_EQ(std::make_tuple(b.s.actie.cv.on, b.s.actie.cv.points, b.s.actie.iv.on), std::make_tuple(1, 3, 0));
  ASSERT_NE(b.s.CurrentRecord(), nullptr);
  EXPECT_EQ(std::make_tuple(b.s.CurrentRecord()->wp.temperature, b.s.CurrentRecord()->actie.cv.on),
            std::make_tuple(250.0, 1));

  const CalculationVariables& cv = b.s.currentCalcVars;
  EXPECT_EQ(cv.par->T, 250.0);
  const MetaTransitionCalc& t = cv.meta.t[0][0];
  double apart = 0.0;
  for (int i = cv.mesh.first[0]; i <= cv.mesh.last[0]; ++i) {
    const double x = cv.mesh.xum[i];
    const double f350 = MetaAcceptorShare(Interpolate(at350.x, at350.y, x));
    const double f250 = MetaAcceptorShare(Interpolate(at250.x, at250.y, x));
    EXPECT_NEAR(MetaAcceptorShare(t.y[i]) / f350, 1.0, 0.01) << i;
    apart = std::max(apart, std::fabs(f250 / f350 - 1.0));
  }
  EXPECT_GT(apart, 0.2);  // the populations of 250 K would be far off

  // The occupation file gives the shares.
  EXPECT_NE(ft_naar_file(cv).find("\tf_t(metastable acceptor config.)1,1\tf_t(metastable donor config.)1,1\t"),
            std::string::npos);
}

}  // namespace
}  // namespace zoniq
