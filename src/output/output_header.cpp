#include "output/output_header.hpp"

#include <array>
#include <cmath>
#include <optional>

#include "common/text.hpp"

namespace zoniq {

namespace {

constexpr std::array<const char*, kResultKinds> kTitles = {"Simulation of band diagrammes",
                                                           "Simulation of generation - recombination profiles",
                                                           "Simulation of ac-band diagrammes at the dc-working point",
                                                           "Simulation of I-V curves",
                                                           "Simulation of C-V curves",
                                                           "Simulation of C-f curves",
                                                           "Simulation of QE curves",
                                                           "Simulation of Occupation probability of deep defects",
                                                           "Simulation of general properties in a batch",
                                                           "Simulation of interface properties in a batch",
                                                           "Simulation of Admittance Spectroscopy",
                                                           "Grading data during simulation",
                                                           "Curve fitting results"};

// A prepared line of the batch or fit information, at most 255 characters.
constexpr std::size_t kMaxPreparedLine = 255;

void Line(std::string& out, std::string_view text) {
  out += text;
  out += '\n';
}

void PreparedLine(std::string& out, const std::string& text) {
  Line(out, std::string_view(text).substr(0, std::min(text.size(), kMaxPreparedLine)));
}

// "dd-mm-yyyy at hh:mm:ss"
std::string PaddedDateTime(const FileDateSource& source, const std::string& name) {
  DateTime t{0, 0, 0, 0, 0, 0};
  if (!source || !source(name, t)) t = DateTime{0, 0, 0, 0, 0, 0};
  return DateText(t) + " at " + TimeText(t);
}

// "d-m-y at h:mm:ss"
std::string ShortDateTime(const FileDateSource& source, const std::string& name) {
  DateTime t{0, 0, 0, 0, 0, 0};
  if (!source || !source(name, t)) t = DateTime{0, 0, 0, 0, 0, 0};
  char buf[80];
  std::snprintf(buf, sizeof buf, "%d-%d-%d at %d:%02d:%02d", t.day, t.month, t.year, t.hour, t.minute, t.second);
  return buf;
}

}  // namespace

const char* ResultTitle(int kind) {
  if (kind < 0 || kind >= kResultKinds) return "";
  return kTitles[static_cast<std::size_t>(kind)];
}

bool ZONIQFileDateTime(std::string_view fileName, DateTime& when) {
  if (EqualsNoCase(Trim(fileName), "new problem")) {
    when = NowLocal();
    return true;
  }
  const std::optional<DateTime> modified = FileModificationTime(fileName);
  if (!modified) {
    when = DateTime{0, 0, 0, 0, 0, 0};
    return false;
  }
  when = *modified;
  return true;
}

int GetZONIQFileDate(std::string_view fileName, int& month, int& day, int& year) {
  DateTime t;
  const bool ok = ZONIQFileDateTime(fileName, t);
  month = t.month;
  day = t.day;
  year = t.year;
  return ok ? 0 : -1;
}

int GetZONIQFileTime(std::string_view fileName, int& hours, int& minutes, int& seconds) {
  DateTime t;
  const bool ok = ZONIQFileDateTime(fileName, t);
  hours = t.hour;
  minutes = t.minute;
  seconds = t.second;
  return ok ? 0 : -1;
}

void WriteOutputHeader(std::string& out, const SimulationRecord& rec, int kind, bool batchBlock,
                       const HeaderContext& ctx) {
  const WorkPoint& wp = rec.wp;
  Line(out, ctx.version);
  Line(out, ResultTitle(kind));
  if (kind == kResultAdmittance)
    Line(out, "Attempt to escape frequency (Hz):\t " + sci(ctx.attemptToEscapeFrequency, 16, 8));

  if (rec.batchRecording != 0) {
    Line(out, "Results of a batch recording");
  } else if (rec.batch.numberOfParameters > 0 || rec.batch.definitionFileBatch != 0) {
    Line(out, "Batch simulation #\t" + std::to_string(rec.number) + "\tstep\t" + std::to_string(rec.batch.step) +
                  "\tof\t" + std::to_string(rec.batch.numberOfSteps));
  } else if (rec.fit.numberOfParameters > 0) {
    Line(out, "Curve fitting simulation #\t" + std::to_string(rec.number) + "\tstep\t" +
                  std::to_string(rec.fit.iteration + 1) + "\tof\t" + std::to_string(rec.fit.numberOfIterations));
  } else {
    Line(out, "Single shot simulation #\t" + std::to_string(rec.number));
  }
  Line(out, "Calculation started : \t" + rec.startTime);
  Line(out, "");
  Line(out, "problem definition file :\t" + wp.problemName);
  Line(out, "last saved: \t" + PaddedDateTime(ctx.fileDate, wp.problemName));
  Line(out, "");

  if (wp.dark != 0) {
    Line(out, "Calculation in dark");
  } else {
    Line(out, "Calculation under illumination");
    if (wp.generationFromFile != 0) {
      Line(out, "Optical generation data G(x) read from file:");
      Line(out, "Input file with G(x) data :\t");
      Line(out, wp.generationFile + "  last saved: \t" + ShortDateTime(ctx.fileDate, wp.generationFile));
      Line(out, "Transmission of attenuation filter:\t" + sci(wp.attenuation, 12, 4) + "\t%");
      Line(out, "Ideal light current from optical generation\t" + fix(wp.idealGenerationCurrent, 10, 4) + "\tmA/cm2");
      Line(out, "Ideal light current after attenuation\t" +
                    fix(wp.idealGenerationCurrent * wp.attenuation * 0.01, 10, 4) + "\tmA/cm2");
    } else {
      Line(out, "Optical generation from internal ZONIQ calculation");
      Line(out, wp.illuminatedFromRight != 0 ? "Illumination from the right" : "Illumination from the left");
      Line(out, "spectrum file :\t");
      Line(out, wp.spectrumFile + "  last saved: \t" + PaddedDateTime(ctx.fileDate, wp.spectrumFile));
      if (wp.spectrumCutOff != 0) {
        Line(out, "Spectrum cut-off applied\t");
        Line(out, "short wavelength cut-off\t" + fix(wp.shortWavelengthCutOff, 8, 2) + "\tnm");
        Line(out, "long  wavelength cut-off\t" + fix(wp.longWavelengthCutOff, 8, 2) + "\tnm");
      }
      Line(out, "Neutral density filter: ND\t" + fix(wp.neutralDensity, 8, 4));
      Line(out, "Transmission of ND filter:\t" + sci(std::pow(10.0, -wp.neutralDensity), 12, 4));
      // The powers are kept in W/m²; the file shows mW/cm².
      Line(out, "Power from spectrum:\t" + fix(wp.spectrumPower * 0.1, 10, 4) + "\tmW/cm2");
      if (wp.spectrumCutOff != 0)
        Line(out, "Power after cut-off filters\t" + fix(wp.windowPower * 0.1, 10, 4) + "\tmW/cm2");
      Line(out, "Incident power on solar cell structure\t" + fix(wp.incidentPower * 0.1, 10, 4) + "\tmW/cm2");
    }
  }
  Line(out, "");
  Line(out, "Working point conditions");
  Line(out, "Temperature\t" + fix(wp.temperature, 8, 2) + "\tK");
  Line(out, "Workpoint bias voltage\t" + fix(wp.voltage, 10, 4) + "\tVolt");
  Line(out, "Frequency\t" + sci(wp.frequency, 12, 4) + "\tHz");
  Line(out, "");
  if (rec.metaStable != 0) {
    // The populations of the metastable defects came from the second working point; a file
    // must not hide that their update did not settle.
    const WorkPoint& w2 = rec.secondwp;
    Line(out, "Metastable defects set at the second working point");
    Line(out, "Temperature\t" + fix(w2.temperature, 8, 2) + "\tK");
    Line(out, "Workpoint bias voltage\t" + fix(w2.voltage, 10, 4) + "\tVolt");
    Line(out, w2.dark != 0 ? "Calculation in dark" : "Calculation under illumination");
    if (rec.metaStableFailure != 0)
      Line(out, "Metastable defects NOT converged, remaining error\t" + sci(rec.metaStableDeviation, 12, 4));
    else
      Line(out, "Metastable defects converged");
    Line(out, "");
  }
  if (batchBlock) WriteBatchInfo(out, rec);
}

void WriteBatchInfo(std::string& out, const SimulationRecord& rec) {
  if (rec.batch.numberOfParameters > 0 || rec.batch.definitionFileBatch != 0) {
    Line(out, "**Batch parameters**");
    if (rec.batch.definitionFileBatch != 0) Line(out, "Definition file:\t" + rec.batch.definitionFile);
    for (const std::string& l : rec.batch.lines) PreparedLine(out, l);
    Line(out, "");
  } else if (rec.fit.numberOfParameters > 0) {
    Line(out, "**Curve fitting parameters**");
    for (const std::string& l : rec.fit.lines) PreparedLine(out, l);
    PreparedLine(out, rec.fit.closingLine);
    if (rec.fit.fixedParameterSet != 0) {
      Line(out, "**Fixed parameter for this measurement**");
      PreparedLine(out, rec.fit.fixedParameterLine);
    }
    Line(out, "");
  }
}

}  // namespace zoniq
