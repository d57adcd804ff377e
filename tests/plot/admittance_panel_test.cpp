// The admittance-spectroscopy panel: the analysis stored with each simulated C-f curve and that
// of the measured curves, against the chosen axes, and what it says when there is none.
#include <gtest/gtest.h>

#include <cmath>
#include <list>
#include <string>
#include <vector>

#include "measure/admittance_analysis.hpp"
#include "plot/figure_model.hpp"
#include "plot/plot_fixture.hpp"

namespace zoniq {
namespace {

using test::GraphOf;
using test::PanelIndexOf;

constexpr double kTwoPi = 6.283185307179586;

// A Debye step C∞ + ΔC/(1 + (ω/ω0)²) [nF/cm²] from 100 Hz to 10 MHz, 10 points per decade.
void DebyeStep(double omega0, std::vector<double>& f, std::vector<double>& C) {
  for (int k = 0; k <= 50; ++k) {
    f.push_back(std::pow(10.0, 2.0 + k / 10.0));
    const double x = kTwoPi * f.back() / omega0;
    C.push_back(20.0 + 4.0 / (1.0 + x * x));
  }
}

TEST(AdmittancePanel, SimulatedAndMeasuredAnalysesAgainstTheChosenAxes) {
  AdmittanceSettings s;
  s.abscissa = kAsAbscissaF;
  s.ordinate = kAsOrdinateMinusD;
  MottSchottkySettings ms;
  // Simulation #1 holds an analysed curve, #2 a curve the analysis refused (too few points),
  // #3 no C-f curve at all.
  std::list<SimulationRecord> records(3);
  auto it = records.begin();
  SimulationRecord& a = *it++;
  a.number = 1;
  a.cf.present = 1;
  a.cf.colour = 2;
  DebyeStep(1e5, a.cf.f, a.cf.C);
  a.cf.points = a.cf.pointsDone = static_cast<int>(a.cf.f.size());
  SimulationRecord& b = *it++;
  b.number = 2;
  b.cf.present = 1;
  b.cf.f = {1e3, 1e4};
  b.cf.C = {10.0, 9.0};
  b.cf.points = b.cf.pointsDone = 2;
  it->number = 3;
  EXPECT_EQ(Calculate_AS(records, s, ms, nullptr), 1);

  MeasurementState measured;
  MeasurementItem m;
  m.fileName = "lab/sample 7.cf";
  m.kind = kMeasurementCf;
  m.temperature = 200.0;
  CfMeasurement d;
  DebyeStep(3e3, d.f, d.C);
  m.data = d;
  m.nPoints = static_cast<int>(d.f.size());
  InsertMeasurementInStack(measured, m);

  PlotSources src;
  src.records = &records;
  src.admittance = &s;
  const int index = PanelIndexOf("as");
  ASSERT_GE(index, 0);
  // Without the measurement list only the simulated analysis.
  PlotPanel p = BuildPanel(index, src);
  EXPECT_EQ(p.keyword, "as");
  const PlotGraph* g = &GraphOf(p, "as");
  ASSERT_EQ(g->series.size(), 1u);
  EXPECT_EQ(g->series[0].name, "simulation #1");
  EXPECT_EQ(g->series[0].x, a.cf.as.f);       // abscissa f [Hz], on a log axis
  EXPECT_EQ(g->series[0].y, a.cf.as.minusD);  // ordinate −ω·dC/dω
  EXPECT_EQ(g->x.scale, AxisScale::kLog);
  EXPECT_EQ(g->x.title, "f (Hz)");
  EXPECT_EQ(g->y.title, "-w*dC/dw (nF/cm\u00B2)");  // UTF-8 on the graph
  // −dC/d ln ω of the step peaks at ΔC/2 = 2 nF/cm² (at ω = ω0); the range holds it.
  EXPECT_GE(g->y.max, 2.0 * 0.97);

  src.measurements = &measured;
  src.mottSchottky = &ms;
  p = BuildPanel(index, src);
  g = &GraphOf(p, "as");
  ASSERT_EQ(g->series.size(), 2u);
  EXPECT_EQ(g->series[1].name, "meas. sample 7.cf");
  EXPECT_EQ(g->series[1].style, LineStyle::kDashed);
  // The measured step's corner lies 1.5 decades below the simulated one.
  const auto peakAt = [](const PlotSeries& series) {
    std::size_t k = 0;
    for (std::size_t i = 1; i < series.y.size(); ++i)
      if (series.y[i] > series.y[k]) k = i;
    return series.x[k];
  };
  EXPECT_NEAR(std::log10(peakAt(g->series[0]) / peakAt(g->series[1])), std::log10(1e5 / 3e3), 0.1);

  // Abscissa Et: a linear axis in eV.
  s.abscissa = kAsAbscissaEt;
  EXPECT_EQ(GraphOf(BuildPanel(index, src), "as").x.scale, AxisScale::kLinear);

  // A C-f curve that cannot be analysed, and no C-f curve at all.
  records.erase(records.begin());
  src.measurements = nullptr;
  EXPECT_EQ(GraphOf(BuildPanel(index, src), "as").note, "No C-f curve could be analysed: nothing to save or to show !");
  records.erase(records.begin());
  EXPECT_EQ(GraphOf(BuildPanel(index, src), "as").note, "No C-f calculation is made yet: nothing to save or to show !");

  const std::optional<GraphSelection> sel = SelectGraphs("as", "whole", "");
  ASSERT_TRUE(sel);
  EXPECT_EQ(sel->panel, index);
  EXPECT_EQ(sel->graphs, std::vector<int>{0});
  EXPECT_TRUE(SelectGraphs("as", "as", ""));
  EXPECT_FALSE(SelectGraphs("as", "cf", ""));
}

}  // namespace
}  // namespace zoniq
