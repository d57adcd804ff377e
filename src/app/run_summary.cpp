#include "app/run_summary.hpp"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/session.hpp"
#include "common/text.hpp"
#include "output/csv_files.hpp"

namespace zoniq {

namespace {

// A cell parameter, or an empty field when it could not be determined.
std::string Parameter(bool valid, double v) { return valid ? CsvNumber(v) : std::string(); }

bool IVComplete(const SimulationRecord& r) {
  return !r.actie.iv.on || (r.iv.present && r.iv.pointsDone == r.iv.points);
}

}  // namespace

bool SimulationComplete(const Session& s, std::size_t recordsBefore) {
  if (s.lastSimulationResult != 0 || s.WorkPointConvergenceFailure != 0) return false;
  if (s.simulaties.size() <= recordsBefore) return false;
  return IVComplete(s.simulaties.back());
}

std::string SummaryText(const Session& s, int exitStatus, bool withHeading) {
  std::string t;
  if (withHeading)
    t += "definition file,simulation,temperature (K),illumination,iv points,iv points done,Voc (V),Jsc (mA/cm2),"
         "FF (%),eta (%),Vmpp (V),Jmpp (mA/cm2),result,exit status\n";
  const std::string status = std::to_string(exitStatus);
  if (s.simulaties.empty()) {
    t += CsvField(s.problemName) + ",,,,,,,,,,,,not simulated," + status + "\n";
    return t;
  }
  const SimulationRecord* last = &s.simulaties.back();
  for (const SimulationRecord& r : s.simulaties) {
    const CellParameters& p = r.cell;
    const bool iv = r.iv.present != 0;
    // Only the last record can belong to an abandoned simulation; earlier ones ran through.
    std::string result = IVComplete(r) ? "complete" : "incomplete";
    if (&r == last && s.lastSimulationResult != 0) result = "abandoned";
    t += CsvField(r.wp.problemName) + "," + std::to_string(r.number) + "," + CsvNumber(r.wp.temperature) + "," +
         (r.wp.dark                 ? "dark"
          : r.wp.generationFromFile ? "generation file"
                                    : "light") +
         "," + (r.actie.iv.on ? std::to_string(r.iv.points) : std::string()) + "," +
         (r.actie.iv.on ? std::to_string(r.iv.pointsDone) : std::string()) + "," + Parameter(iv && p.vocValid, p.Voc) +
         "," + Parameter(iv && p.jscValid, p.Jsc) + "," + Parameter(iv && p.ffValid, p.FF) + "," +
         Parameter(iv && p.etaValid, p.eta) + "," + Parameter(iv && p.etaValid, p.Vmpp) + "," +
         Parameter(iv && p.etaValid, p.Jmpp) + "," + result + "," + status + "\n";
  }
  return t;
}

int AppendSummary(const std::string& path, const Session& s, int exitStatus) {
  std::error_code ec;
  const bool fresh = !std::filesystem::exists(path, ec) || std::filesystem::file_size(path, ec) == 0;
  FilePtr f = OpenFile(path, "ab");
  if (!f) return -1;
  const std::string text = SummaryText(s, exitStatus, fresh);
  if (std::fwrite(text.data(), 1, text.size(), f.get()) != text.size() || std::fflush(f.get()) != 0) return -1;
  return 0;
}

}  // namespace zoniq
