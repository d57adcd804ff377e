// Shared pieces of the result-file tests: a save dialog answering with a chosen path, a fixed clock
// for the header's file dates, records built by hand, and a reader of written tables.
#pragma once

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "measure/simulation_record.hpp"
#include "output/result_files.hpp"
#include "ui/error_message.hpp"
#include "ui/user_interface.hpp"

namespace zoniq::test {

// Records every message; the save dialog answers `answer` (nullopt: cancel), noting where it looked.
class DialogUserInterface : public RecordingUserInterface {
 public:
  std::optional<std::string> FileSelectPopup(std::string_view folder, std::string_view pattern, std::string_view,
                                             bool) override {
    asked.push_back(std::string(folder) + " " + std::string(pattern));
    return answer;
  }
  std::optional<std::string> answer;
  std::vector<std::string> asked;  // "folder pattern"
};

// Everything a writer reports to, with a header whose file dates are all 7 February 2023,
// 09:05:03 (so that whole files can be compared byte for byte).
struct OutputEnvironment {
  DialogUserInterface ui;
  ErrorReporting errors;
  Environment env{&ui, &errors, "/zoniq-home"};
  OutputContext context;
  OutputEnvironment() {
    errors.ErrorMessageMode = 0;  // messages as pop-ups, recorded by the user interface
    context.env = &env;
    context.header.version = "ZONIQ 3.2.0 (test)";
    context.header.fileDate = [](std::string_view, DateTime& t) {
      t = DateTime{7, 2, 2023, 9, 5, 3};
      return true;
    };
  }
};

// A single-shot simulation under the standard spectrum from the right at 300 K, 0 V.
inline SimulationRecord IlluminatedRecord() {
  SimulationRecord r;
  r.number = 1;
  r.startTime = "05-03-2024 10:20:30";
  r.wp.problemName = "C:\\cells\\cigs.def";
  r.wp.dark = 0;
  r.wp.spectrumFile = "C:\\zoniq\\spectrum\\AM1_5G 1 sun.spe";
  r.wp.spectrumPower = r.wp.windowPower = r.wp.incidentPower = 1000.37;
  return r;
}

// A record with a C-V (5 of 6 points calculated), a C-f and a QE curve, values chosen by hand.
inline SimulationRecord HandMadeSweepRecord(int number, int colour) {
  SimulationRecord r;
  r.number = number;
  CVResult& cv = r.cv;
  cv.present = r.cf.present = r.qe.present = 1;
  cv.points = 6;
  cv.pointsDone = 5;
  cv.colour = r.cf.colour = r.qe.colour = colour;
  cv.epsilon = 13.6;
  cv.epsilonSide = cv.epsilonLayer = 1;
  cv.epsilonLayerName = "CIGS";
  cv.v = {-0.4, -0.2, 0.0, 0.2, 0.4, 0.6};
  cv.C = {20.0, 25.0, 32.0, 40.0, 50.0, 0.0};
  cv.G = {1e-6, 2e-6, 4e-6, 8e-6, 1.6e-5, 0.0};
  cv.W = {0.5, 0.4, 0.3, 0.25, 0.2, 0.0};
  cv.Napp = {1e15, 2e15, 5e15, 1e16, 3e16, 0.0};
  cv.jtot.assign(6, -2.5e-6);
  cv.jbulk.assign(6, -2.0e-6);
  cv.jifr.assign(6, 0.0);
  cv.jopp_n.assign(6, -3e-11);
  cv.jopp_p.assign(6, 1e-47);
  CfResult& cf = r.cf;
  cf.points = cf.pointsDone = 4;
  cf.f = {1e2, 1e3, 1e4, 1e5};
  cf.C = {40.0, 38.0, 30.0, 22.0};
  cf.G = {1e-5, 4e-5, 2e-4, 1e-3};
  cf.Zre = {100.0, 80.0, 30.0, 5.0};
  cf.Zim = {-10.0, -40.0, -35.0, -8.0};
  cf.Zmagn = {100.5, 89.4, 46.1, 9.4};
  cf.Zphase = {-5.7, -26.6, -49.4, -58.0};
  QEResult& qe = r.qe;
  qe.points = qe.pointsDone = 3;
  qe.lambda = {400.0, 700.0, 1000.0};
  qe.QE = {70.0, 90.0, 60.0};
  qe.photonEnergy = {3.0999, 1.7714, 1.2400};
  return r;
}

// The header that IlluminatedRecord() gets for the I-V file, written out from the layout.
inline std::string IlluminatedIVHeader() {
  return "ZONIQ 3.2.0 (test)\nSimulation of I-V curves\nSingle shot simulation #\t1\n"
         "Calculation started : \t05-03-2024 10:20:30\n\nproblem definition file :\tC:\\cells\\cigs.def\n"
         "last saved: \t07-02-2023 at 09:05:03\n\nCalculation under illumination\n"
         "Optical generation from internal ZONIQ calculation\nIllumination from the right\nspectrum file :\t\n"
         "C:\\zoniq\\spectrum\\AM1_5G 1 sun.spe  last saved: \t07-02-2023 at 09:05:03\n"
         "Neutral density filter: ND\t  0.0000\nTransmission of ND filter:\t  1.0000e+00\n"
         "Power from spectrum:\t  100.0370\tmW/cm2\nIncident power on solar cell structure\t  100.0370\tmW/cm2\n\n"
         "Working point conditions\nTemperature\t  300.00\tK\nWorkpoint bias voltage\t    0.0000\tVolt\n"
         "Frequency\t  1.0000e+06\tHz\n\n";
}

// The rows of numbers of a table: the lines after the first line holding `heading` (which goes to
// `headingLine`), skipping empty lines before the first row, up to the next empty line.
inline std::vector<std::vector<double>> TableRows(const std::string& text, const std::string& heading,
                                                  std::string* headingLine = nullptr) {
  std::istringstream in(text.substr(text.rfind('\n', text.find(heading)) + 1));
  std::string line;
  std::getline(in, line);
  if (headingLine) *headingLine = line;
  std::vector<std::vector<double>> rows;
  while (std::getline(in, line) && !(line.empty() && !rows.empty())) {
    if (line.empty()) continue;
    std::istringstream row(line);
    rows.emplace_back();
    for (double x; row >> x;) rows.back().push_back(x);
  }
  return rows;
}

}  // namespace zoniq::test
