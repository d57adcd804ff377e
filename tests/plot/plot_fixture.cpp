#include "plot_fixture.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

#include "celldef/definition_file.hpp"
#include "measure/simulation_driver.hpp"
#include "test_util.hpp"

namespace zoniq::test {

Environment CigsRun::env() { return Environment{&ui, &errors, HomeFolder()}; }

bool CigsRun::Run(const std::string& range) {
  const Environment e = env();
  InputParameters set;
  MottSchottkySettings ms;
  InitialiseInputParameters(set, ms);
  if (lees_structuurfile(e, HomeFolder() + "/def/CIGS.def", set, ms, cell.definitionExtras) < 0) return false;
  cell.parameterset1 = set;
  cell.mottSchottky = ms;
  parameterset1_to_2(cell.zonnecel, cell.parameterset1);
  cell.problemName = "CIGS.def";
  InitialiseSimulationState(*sim, HomeFolder());
  ApplyDefinitionWorkPoint(sim->wp, cell.definitionExtras.workPoint);
  sim->wp.dark = 0;
  if (!range.empty() && !ParseSweepRange(range, sim->actie.iv)) return false;
  return calculate_withMeta(cell, *sim, e, nullptr, nullptr) == 0;
}

SimulationRecord HandMadeSweepRecord(int number, int colour) {
  SimulationRecord r;
  r.number = number;
  CVResult& cv = r.cv;
  cv.present = 1;
  cv.points = 6;  // the sweep stopped after 5 of 6 points
  cv.pointsDone = 5;
  cv.colour = colour;
  cv.v = {-0.4, -0.2, 0.0, 0.2, 0.4, 0.6};
  cv.C = {20.0, 25.0, 32.0, 40.0, 50.0, 0.0};
  cv.G = {1e-6, 2e-6, 4e-6, 8e-6, 1.6e-5, 0.0};
  cv.W = {0.5, 0.4, 0.3, 0.25, 0.2, 0.0};
  cv.Napp = {1e15, 2e15, 5e15, 1e16, 3e16, 0.0};
  CfResult& cf = r.cf;
  cf.present = 1;
  cf.points = cf.pointsDone = 4;
  cf.colour = colour;
  cf.f = {1e2, 1e3, 1e4, 1e5};
  cf.C = {40.0, 38.0, 30.0, 22.0};
  cf.G = {1e-5, 4e-5, 2e-4, 1e-3};
  cf.Zre = {100.0, 80.0, 30.0, 5.0};
  cf.Zim = {-10.0, -40.0, -35.0, -8.0};
  QEResult& qe = r.qe;
  qe.present = 1;
  qe.points = qe.pointsDone = 3;
  qe.colour = colour;
  qe.lambda = {400.0, 700.0, 1000.0};
  qe.QE = {70.0, 90.0, 60.0};
  qe.photonEnergy = {3.0999, 1.7714, 1.2400};
  return r;
}

int PanelIndexOf(const std::string& keyword) {
  const std::vector<PanelNames>& table = PanelTable();
  for (std::size_t i = 0; i < table.size(); ++i)
    if (keyword == table[i].keyword) return static_cast<int>(i);
  throw std::out_of_range("no panel " + keyword);
}

const PlotGraph& GraphOf(const PlotPanel& panel, const std::string& keyword) {
  for (const PlotGraph& g : panel.graphs)
    if (g.keyword == keyword) return g;
  throw std::out_of_range("no graph " + keyword + " in " + panel.keyword);
}

}  // namespace zoniq::test
