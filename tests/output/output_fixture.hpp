// Shared pieces of the result-file tests: a user interface whose save dialog answers with a
// chosen path, a fixed clock for the file dates of the header, a record built by hand, and a
// reader of the numbers of a written table.
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

// Records every message; the save dialog answers `answer` (nullopt: the user cancels) and
// remembers where it looked.
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
  r.wp.illuminatedFromRight = 1;
  r.wp.spectrumFile = "C:\\zoniq\\spectrum\\AM1_5G 1 sun.spe";
  r.wp.spectrumPower = 1000.37;
  r.wp.windowPower = 1000.37;
  r.wp.incidentPower = 1000.37;
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

// The rows of numbers of a table: the lines after the line that starts with `heading` (which goes
// to `line`), skipping empty lines before the first row, up to the next empty line.
inline std::vector<std::vector<double>> TableRows(const std::string& text, const std::string& heading,
                                                  std::string* headingLine = nullptr) {
  std::istringstream in(text.substr(text.rfind(heading, 0) == 0 ? 0 : text.find("\n" + heading) + 1));
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
