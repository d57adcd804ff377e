#include "settings/settings_files.hpp"

#include <cmath>
#include <filesystem>
#include <functional>
#include <system_error>

#include "common/paths.hpp"
#include "common/text.hpp"
#include "common/zoniq_paths.hpp"

namespace zoniq {

namespace {

// Largest magnitude taken for a value written in fixed notation: beyond it a line of the file
// would grow to hundreds of characters, and no cell is biased, heated or filtered that far.
constexpr double kMaxFixedMagnitude = 1e6;
// Largest integer taken for a count; counts above 2001 are then limited with the warning.
constexpr double kMaxCount = 1e9;

bool NoProblemLoaded(std::string_view name) { return TrimView(name).empty() || name == "new problem"; }

bool WriteAll(std::FILE* file, const std::string& text) {
  if (!file) return false;
  return std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
}

bool IsRegularFile(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(NativePath(path), ec);
}

bool IsCommentLine(std::string_view line) {
  return !line.empty() && std::string_view("><*!/\\").find(line.front()) != std::string_view::npos;
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

// ---- writing ----

void KeyLine(std::string& o, std::string_view key, std::string_view value, std::string_view unit = {}) {
  o += key;
  o += " : ";
  o += value;
  if (!unit.empty()) {
    o += ' ';
    o += unit;
  }
  o += '\n';
}

double Transmission(double neutralDensity) { return 100.0 * std::pow(10.0, -neutralDensity); }

// The items of one working point; the second one has no frequency.
void WorkPointLines(std::string& o, const WorkPoint& w, const std::string& prefix, bool withFrequency) {
  KeyLine(o, prefix + "Temperature", fix(w.temperature, 8, 2), "K");
  KeyLine(o, prefix + "Voltage", fix(w.voltage, 10, 4), "V");
  if (withFrequency) KeyLine(o, prefix + "Frequency", sci(w.frequency, 12, 4), "Hz");
  KeyLine(o, prefix + "Number of points", intw(w.numberOfSteps, 3));
  KeyLine(o, prefix + "dark", intw(w.dark, 2));
  KeyLine(o, prefix + "generation from file", intw(w.generationFromFile, 2));
  o += prefix + "spectrum file :\"" + w.spectrumFile + "\"\n";
  KeyLine(o, prefix + "spectrum cut off", intw(w.spectrumCutOff, 2));
  KeyLine(o, prefix + "short wavelength cut off", fix(w.shortWavelengthCutOff, 8, 2), "nm");
  KeyLine(o, prefix + "long wavelength cut off", fix(w.longWavelengthCutOff, 8, 2), "nm");
  KeyLine(o, prefix + "neutral density", fix(w.neutralDensity, 10, 4));
  KeyLine(o, prefix + "transmission", fix(Transmission(w.neutralDensity), 10, 4), "%");
  o += prefix + "generation file :\"" + w.generationFile + "\"\n";
  KeyLine(o, prefix + "attenuation", fix(w.attenuation, 10, 4), "%");
}

const char* const kSecondPrefix = "Secondworkpoint ";

// ---- reading ----

// A value that the reader cannot take; the whole file is then rejected.
struct Reject {
  std::string message;
};

// The value text after a keyword: blanks, one ':' and blanks removed.
std::string_view ValueAfterKey(std::string_view line, std::size_t keyLength) {
  std::string_view rest = TrimLeft(line.substr(keyLength));
  if (!rest.empty() && rest.front() == ':') rest = TrimLeft(rest.substr(1));
  return rest;
}

double RealValue(std::string_view rest, std::string_view key, double lo, double hi, const char* range) {
  double v = 0.0;
  bool finite = true;
  const std::size_t used = ScanNumberAt(rest, v, finite);
  if (used == 0) throw Reject{"the value of \"" + std::string(key) + "\" is not a number: '" + std::string(rest) + "'"};
  // A unit or remark may follow after a blank; text against the digits is a typo ("2,5", "1.2O").
  if (used < rest.size() && rest[used] != ' ' && rest[used] != '\t' && rest[used] != '\r')
    throw Reject{"the value of \"" + std::string(key) + "\" is not a number: '" +
                 std::string(rest.substr(0, std::min<std::size_t>(rest.size(), 40))) + "' (text follows the digits)"};
  if (!finite || v < lo || v > hi)
    throw Reject{"the value of \"" + std::string(key) + "\" should be " + range + ", not '" +
                 std::string(rest.substr(0, 40)) + "'"};
  return v;
}

// A positive value that the file writes with `decimals` decimals. A smaller one than the last
// decimal would be saved as 0, which the reader refuses: the file could not be read back.
double PositiveFixed(std::string_view rest, std::string_view key, int decimals, double hi, std::string_view what) {
  const double lo = std::pow(10.0, -decimals);
  const std::string range = std::string(what) + " of at least " + fix(lo, 1, decimals);
  return RealValue(rest, key, lo, hi, range.c_str());
}

int IntValue(std::string_view rest, std::string_view key, double lo, double hi, const char* range) {
  const double v = RealValue(rest, key, lo, hi, range);
  if (v != std::floor(v)) throw Reject{"the value of \"" + std::string(key) + "\" should be a whole number"};
  return static_cast<int>(v);
}

int FlagValue(std::string_view rest, std::string_view key) { return IntValue(rest, key, 0, 1, "0 or 1"); }

// A file name in double quotes (from the first to the last quote), or the bare rest of the line.
std::string QuotedName(std::string_view rest) {
  const auto first = rest.find('"');
  if (first == std::string_view::npos) return Trim(rest);
  const auto last = rest.rfind('"');
  if (last == first) return Trim(rest.substr(first + 1));
  return std::string(rest.substr(first + 1, last - first - 1));
}

struct KeyHandler {
  std::string key;
  std::function<void(std::string_view rest)> take;
};

// What was read for one working point, beyond the values themselves.
struct WorkPointSeen {
  bool spectrum = false;
  bool neutralDensity = false;
  std::optional<double> transmission;  // [%]
};

void AddWorkPointKeys(std::vector<KeyHandler>& table, WorkPoint& w, WorkPointSeen& seen, const std::string& prefix,
                      bool first) {
  auto add = [&](const char* key, std::function<void(std::string_view)> take) {
    table.push_back({prefix + key, std::move(take)});
  };
  add("Temperature", [&w](std::string_view v) {
    w.temperature = PositiveFixed(v, "Temperature", 2, 1e4, "a temperature of at most 10000 K");
  });
  add("Voltage", [&w](std::string_view v) {
    w.voltage = RealValue(v, "Voltage", -kMaxFixedMagnitude, kMaxFixedMagnitude, "a voltage of at most 1e6 V");
  });
  if (first) {
    add("Frequency",
        [&w](std::string_view v) { w.frequency = RealValue(v, "Frequency", 1e-300, 1e300, "a positive frequency"); });
    add("Number of points", [&w](std::string_view v) {
      w.numberOfSteps = IntValue(v, "Number of points", kMinSweepPoints, kMaxSweepPoints, "between 2 and 2001");
    });
  }
  add("dark", [&w](std::string_view v) { w.dark = FlagValue(v, "dark"); });
  add("generation from file",
      [&w](std::string_view v) { w.generationFromFile = FlagValue(v, "generation from file"); });
  add("spectrum file :", [&w, &seen](std::string_view v) {
    w.spectrumFile = QuotedName(v);
    seen.spectrum = true;
  });
  add("spectrum cut off", [&w](std::string_view v) { w.spectrumCutOff = FlagValue(v, "spectrum cut off"); });
  add("short wavelength cut off", [&w](std::string_view v) {
    w.shortWavelengthCutOff = RealValue(v, "short wavelength cut off", -kMaxFixedMagnitude, kMaxFixedMagnitude,
                                        "a wavelength of at most 1e6 nm");
  });
  add("long wavelength cut off", [&w](std::string_view v) {
    w.longWavelengthCutOff = RealValue(v, "long wavelength cut off", -kMaxFixedMagnitude, kMaxFixedMagnitude,
                                       "a wavelength of at most 1e6 nm");
  });
  add("neutral density", [&w, &seen](std::string_view v) {
    w.neutralDensity = RealValue(v, "neutral density", 0, kMaxFixedMagnitude, "an optical density of 0 or more");
    seen.neutralDensity = true;
  });
  add("transmission", [&seen](std::string_view v) {
    seen.transmission = RealValue(v, "transmission", 0, 100, "a percentage above 0 and at most 100");
    // The transmission is written with four decimals, so a large optical density shows as 0 %;
    // it is only an error when the file gives no neutral density to stand in for.
    if (*seen.transmission <= 0 && !seen.neutralDensity)
      throw Reject{"the value of \"transmission\" should be above 0 %"};
  });
  add("generation file :", [&w](std::string_view v) { w.generationFile = QuotedName(v); });
  add("attenuation", [&w](std::string_view v) {
    w.attenuation = PositiveFixed(v, "attenuation", 4, kMaxFixedMagnitude, "a positive percentage");
  });
}

// Which companions of the sweeps a file gave.
struct SweepSeen {
  bool ivPoints = false, ivIncrement = false;
  bool cvPoints = false, cvIncrement = false;
  bool cfPoints = false, cfPerDecade = false;
  bool qePoints = false, qeIncrement = false;
};

void AddActionKeys(std::vector<KeyHandler>& table, MeasurementActions& a, ActionListExtras& x, WorkPoint& wp,
                   SweepSeen& seen) {
  auto add = [&](const char* key, std::function<void(std::string_view)> take) {
    table.push_back({key, std::move(take)});
  };
  constexpr double M = kMaxFixedMagnitude;
  const char* voltage = "a voltage of at most 1e6 V";
  const char* count = "a number of points of 0 or more";
  add("pause", [&x](std::string_view v) { x.pause = FlagValue(v, "pause"); });

  // The two voltage sweeps share their keys but for the prefix; "stop after Voc" sits in the I-V block.
  auto addVoltageSweep = [&](const std::string& prefix, VoltageSweepAction& sweep, double& increment, bool& seenPoints,
                             bool& seenIncrement) {
    const std::string start = prefix + "startV", stop = prefix + "stopV", points = prefix + "points",
                      step = prefix + "increment", on = prefix + "calculate";
    add(start.c_str(),
        [&sweep, start, voltage](std::string_view v) { sweep.startV = RealValue(v, start, -M, M, voltage); });
    add(stop.c_str(),
        [&sweep, stop, voltage](std::string_view v) { sweep.stopV = RealValue(v, stop, -M, M, voltage); });
    add(points.c_str(), [&sweep, &seenPoints, points, count](std::string_view v) {
      sweep.points = IntValue(v, points, 0, kMaxCount, count);
      seenPoints = true;
    });
    add(step.c_str(), [&increment, &seenIncrement, step, voltage](std::string_view v) {
      increment = RealValue(v, step, -M, M, voltage);
      seenIncrement = true;
    });
    add(on.c_str(), [&sweep, on](std::string_view v) { sweep.on = FlagValue(v, on); });
  };
  addVoltageSweep("IV_", a.iv, x.ivIncrement, seen.ivPoints, seen.ivIncrement);
  add("stop after Voc", [&x](std::string_view v) { x.stopAfterVoc = FlagValue(v, "stop after Voc"); });
  addVoltageSweep("CV_", a.cv, x.cvIncrement, seen.cvPoints, seen.cvIncrement);

  // The C-f sweep is logarithmic: both ends must be positive frequencies.
  add("Cf_startf", [&a](std::string_view v) {
    a.cf.startF = RealValue(v, "Cf_startf", 0, 1e300, "a positive frequency");
    if (a.cf.startF <= 0) throw Reject{"the value of \"Cf_startf\" should be a positive frequency"};
  });
  add("Cf_stopf", [&a](std::string_view v) {
    a.cf.stopF = RealValue(v, "Cf_stopf", 0, 1e300, "a positive frequency");
    if (a.cf.stopF <= 0) throw Reject{"the value of \"Cf_stopf\" should be a positive frequency"};
  });
  add("Cf_total points", [&a, &seen, count](std::string_view v) {
    a.cf.points = IntValue(v, "Cf_total points", 0, kMaxCount, count);
    seen.cfPoints = true;
  });
  add("Cf_points per decade", [&x, &seen](std::string_view v) {
    x.cfPointsPerDecade = RealValue(v, "Cf_points per decade", 0, kMaxCount, "a number of points of 0 or more");
    seen.cfPerDecade = true;
  });
  add("Cf_calculate", [&a](std::string_view v) { a.cf.on = FlagValue(v, "Cf_calculate"); });

  const char* wavelength = "a wavelength above 0 nm and at most 1e6 nm";
  add("QE_startlambda",
      [&a, wavelength](std::string_view v) { a.qe.startLambda = IntValue(v, "QE_startlambda", 1, 1e6, wavelength); });
  add("QE_stoplambda",
      [&a, wavelength](std::string_view v) { a.qe.stopLambda = IntValue(v, "QE_stoplambda", 1, 1e6, wavelength); });
  add("QE_points", [&a, &seen, count](std::string_view v) {
    a.qe.points = IntValue(v, "QE_points", 0, kMaxCount, count);
    seen.qePoints = true;
  });
  add("QE_increment", [&x, &seen](std::string_view v) {
    x.qeIncrement = IntValue(v, "QE_increment", -1e6, 1e6, "a wavelength step of at most 1e6 nm");
    seen.qeIncrement = true;
  });
  add("QE_calculate", [&a](std::string_view v) { a.qe.on = FlagValue(v, "QE_calculate"); });

  // The external circuit, in the units of the action panel: Rs and Rsh in Ohm cm2, Gsh in
  // S/cm2; the working point keeps them per m2.
  add("Rs present :", [&wp](std::string_view v) { wp.RsPresent = FlagValue(v, "Rs present"); });
  add("Rs :",
      [&wp](std::string_view v) { wp.Rs = RealValue(v, "Rs", 0, M, "a resistance of 0 Ohm cm2 or more") * 1e-4; });
  add("Rsh present :", [&wp](std::string_view v) { wp.RshPresent = FlagValue(v, "Rsh present"); });
  add("Rsh :", [&wp](std::string_view v) {
    double rsh = RealValue(v, "Rsh", 0, 1e300, "a resistance of 0 Ohm cm2 or more");
    wp.Gsh = GshFromRsh(rsh) * 1e4;
  });
  add("Gsh :", [&wp](std::string_view v) {
    const double gsh = RealValue(v, "Gsh", 0, 1e300, "a conductance of 0 S/cm2 or more");
    wp.Gsh = (gsh < 1e-30 ? 0.0 : gsh) * 1e4;
  });
}

// Reads the keyword lines of `file`. Returns the number of lines taken; throws Reject with
// "line N: ..." for a value that cannot be used.
int ReadKeywordLines(LineReader& reader, const std::vector<KeyHandler>& table) {
  int taken = 0;
  std::string raw;
  for (;;) {
    const LineReader::Status status = reader.Next(raw);
    if (status == LineReader::Status::kEnd) break;
    if (status == LineReader::Status::kError) throw Reject{"the file cannot be read"};
    const std::string_view line = TrimView(raw);
    if (line.empty() || IsCommentLine(line)) continue;
    for (const KeyHandler& h : table) {
      if (!StartsWithNoCase(line, h.key)) continue;
      if (reader.wasCut())
        throw Reject{"line " + std::to_string(reader.lineNumber()) + " is longer than " +
                     std::to_string(kSettingsLineLength) + " characters"};
      try {
        h.take(ValueAfterKey(line, h.key.size()));
      } catch (const Reject& r) {
        throw Reject{"line " + std::to_string(reader.lineNumber()) + ": " + r.message};
      }
      ++taken;
      break;
    }
  }
  return taken;
}

// Reads a whole settings file through its key table. A file with no known line, or one a key
// rejects, is reported under `title` with the file's `label` and gives false; the records the
// table writes into are then to be dropped by the caller.
bool ReadSettingsFile(const Environment& env, std::FILE* file, const std::vector<KeyHandler>& table, const char* title,
                      const std::string& label, const char* nothingKnown) {
  LineReader reader(file, kSettingsLineLength);
  try {
    if (ReadKeywordLines(reader, table) == 0) throw Reject{nothingKnown};
  } catch (const Reject& r) {
    env.Error(title, label + "\n" + r.message);
    return false;
  }
  return true;
}

// Brings a working point read from a file up to date: the transmission stands in for a
// missing neutral density, missing spectrum and generation files are replaced, the
// wavelength window is normalised.
void FinishWorkPoint(const Environment& env, const std::string& fileName, WorkPoint& w, const WorkPointSeen& seen) {
  if (!seen.neutralDensity && seen.transmission && *seen.transmission > 0)
    w.neutralDensity = -std::log10(*seen.transmission / 100.0);
  if (seen.spectrum) {
    std::string full;
    CheckZONIQPaths(env.programFolder, &full, nullptr, w.spectrumFile, FK_SPECTRUM);
    if (IsRegularFile(full)) {
      w.spectrumFile = full;
    } else {
      env.Error(kActionFileMissingTitle, "Action file: " + fileName + "\nSpectrumfile not found: " + full +
                                             "\nReplaced with a standard spectrum: " + kStandardSpectrumName);
      w.spectrumFile = JoinPath(JoinPath(env.programFolder, "spectrum"), kStandardSpectrumName);
    }
    w.spectrumName = "\\" + FileNamePart(w.spectrumFile);
  }
  if (!w.generationFile.empty()) {
    std::string full;
    CheckZONIQPaths(env.programFolder, &full, nullptr, w.generationFile, FK_GENERATION);
    w.generationFile = full;
    w.generationName = "\\" + FileNamePart(full);
  }
  // The default generation name ("*.gen") is a pattern, not a file: it only matters when the
  // generation is to be read from the file.
  if (w.generationFromFile == 1 && !IsRegularFile(w.generationFile)) {
    env.Error(kActionFileMissingTitle, "Action file: " + fileName + "\nGeneration file not found: " + w.generationFile +
                                           "\nSwitched to: generation from internal calculation");
    w.generationFromFile = 0;
  }
  CheckCutoffWavelengths(w);
}

// The sweeps after a file was read: a number of points read wins over an increment read.
int FinishSweeps(const Environment* env, MeasurementActions& a, ActionListExtras& x, const SweepSeen& s) {
  int limited = 0;
  limited += ChangeNumberOfPointsLin(env, a.iv.startV, a.iv.stopV, a.iv.points, x.ivIncrement,
                                     s.ivIncrement && !s.ivPoints) == 1;
  limited += ChangeNumberOfPointsLin(env, a.cv.startV, a.cv.stopV, a.cv.points, x.cvIncrement,
                                     s.cvIncrement && !s.cvPoints) == 1;
  double qeStep = x.qeIncrement;
  limited += ChangeNumberOfPointsLin(env, a.qe.startLambda, a.qe.stopLambda, a.qe.points, qeStep,
                                     s.qeIncrement && !s.qePoints) == 1;
  x.qeIncrement = static_cast<int>(std::lround(qeStep));
  const int cf = ChangeNumberOfPointsLog(env, a.cf.startF, a.cf.stopF, a.cf.points, x.cfPointsPerDecade,
                                         s.cfPerDecade && !s.cfPoints);
  if (cf < 0) return -1;
  return limited + cf;
}

// Opens a settings file to read; reports a file that cannot be opened.
// The file to read, or null after reporting `message` under `title`.
FilePtr OpenForReading(const Environment& env, const std::string& full, const char* title, const std::string& message) {
  FilePtr file = IsRegularFile(full) ? OpenFile(NativePath(full), "rb") : nullptr;
  if (!file) env.Error(title, message);
  return file;
}

FilePtr OpenForReading(const Environment& env, const std::string& full, const char* title, const char* what) {
  return OpenForReading(env, full, title, std::string("The ") + what + " '" + full + "' cannot be opened.");
}

int SaveTextToPath(const Environment& env, const std::string& full, const std::string& text) {
  FilePtr file = OpenFile(NativePath(full), "wb");
  if (!file) {
    env.Error(kSettingsSaveErrorTitle, "The file '" + full + "' cannot be opened for writing.");
    return -1;
  }
  const bool written = WriteAll(file.get(), text);
  const bool closed = std::fclose(file.release()) == 0;
  if (!written || !closed) {
    env.Error(kSettingsSaveErrorTitle, "The file '" + full + "' could not be written completely.");
    return -1;
  }
  return 0;
}

std::string WithHeader(UserInterface& ui, const HeaderInfo& header, const char* title, const std::string& body) {
  std::string out;
  WriteCommentLinesInFile(out, ui, header, title);
  out += body;
  return out;
}

}  // namespace

// ---------------------------------------------------------------- header

HeaderInfo MakeHeaderInfo(std::string_view version, std::string_view problemName) {
  HeaderInfo h;
  h.version = version;
  h.problemName = problemName;
  h.savedAt = NowLocal();
  if (!NoProblemLoaded(problemName)) h.problemSavedAt = FileModificationTime(problemName);
  return h;
}

std::vector<std::string> CommentHeaderLines(const HeaderInfo& info, std::string_view title) {
  std::vector<std::string> lines;
  lines.push_back(info.version);
  lines.push_back("ZONIQ " + std::string(title) + ", saved on \t" + DateText(info.savedAt) + " at " +
                  TimeText(info.savedAt));
  if (NoProblemLoaded(info.problemName)) {
    lines.push_back("no problem definition file loaded ");
  } else {
    lines.push_back("problem definition file loaded :");
    lines.push_back("\"" + info.problemName + "\"");
    lines.push_back("last saved: \t" + (info.problemSavedAt
                                            ? DateText(*info.problemSavedAt) + " at " + TimeText(*info.problemSavedAt)
                                            : std::string("unknown")));
  }
  lines.push_back("");
  return lines;
}

bool WriteCommentLinesInFile(std::string& out, UserInterface& ui, const HeaderInfo& info, std::string_view title) {
  std::vector<std::string> lines = CommentHeaderLines(info, title);
  if (!ui.EditLines(title, lines)) return false;
  // Every physical line must stay a comment, also when an edited line holds a line break.
  for (const std::string& line : lines) {
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = line.find('\n', start);
      std::string_view part = std::string_view(line).substr(start, end == std::string::npos ? end : end - start);
      if (!part.empty() && part.back() == '\r') part.remove_suffix(1);
      out += "> ";
      out += part;
      out += '\n';
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  return true;
}

// ---------------------------------------------------------------- points and increments

namespace {

// The number of points n of a sweep within [kMinSweepPoints, kMaxSweepPoints] into `points`;
// 1 (with the warning through env when given) when n had to be lowered, else 0.
int LimitPoints(const Environment* env, double n, int& points) {
  if (!(n >= kMinSweepPoints)) n = kMinSweepPoints;
  int limited = 0;
  if (n > kMaxSweepPoints) {
    n = kMaxSweepPoints;
    limited = 1;
    if (env)
      env->Error(kPointsWarningTitle,
                 "Number of calculation points is limited to " + std::to_string(kMaxSweepPoints) + "!");
  }
  points = static_cast<int>(n);
  return limited;
}

}  // namespace

int ChangeNumberOfPointsLin(const Environment* env, double start, double stop, int& points, double& increment,
                            bool incrementChanged) {
  if (!std::isfinite(start) || !std::isfinite(stop)) return -1;
  const double span = std::fabs(stop - start);
  double n = points;
  if (incrementChanged && increment > 0) n = std::round(span / increment) + 1;
  // Equal ends (0 V to 0 V included) make a sweep of two identical points.
  if (span <= 1e-15 * (std::fabs(start) + std::fabs(stop))) n = kMinSweepPoints;
  const int limited = LimitPoints(env, n, points);
  increment = span / (points - 1);
  return limited;
}

int ChangeNumberOfPointsLog(const Environment* env, double f1, double f2, int& points, double& perDecade,
                            bool perDecadeChanged) {
  if (!std::isfinite(f1) || !std::isfinite(f2) || !(f1 > 0) || !(f2 > 0)) return -1;
  const double decades = std::log10(f2) - std::log10(f1);
  // Ends closer than rounding make a sweep of two identical points (and no points per decade).
  if (std::fabs(f2 - f1) <= 1e-15 * (f1 + f2) || decades == 0.0) {
    points = kMinSweepPoints;
    return 0;
  }
  double n = points;
  if (perDecadeChanged) n = std::round(std::fabs(perDecade * decades)) + 1;
  const int limited = LimitPoints(env, n, points);
  perDecade = std::fabs((points - 1) / decades);
  return limited;
}

int UpdateNumberOfPoints(const Environment* env, MeasurementActions& actie, ActionListExtras& extras) {
  return FinishSweeps(env, actie, extras, SweepSeen{});
}

// ---------------------------------------------------------------- action list

std::string ActionListFileBody(const WorkPoint& wp, const WorkPoint& secondwp, const MeasurementActions& a,
                               const ActionListExtras& x) {
  std::string o;
  o.reserve(4096);
  WorkPointLines(o, wp, "", true);
  WorkPointLines(o, secondwp, kSecondPrefix, false);
  KeyLine(o, "pause", intw(x.pause, 2));

  KeyLine(o, "IV_startV", fix(a.iv.startV, 10, 4), "V");
  KeyLine(o, "IV_stopV", fix(a.iv.stopV, 10, 4), "V");
  KeyLine(o, "IV_points", intw(a.iv.points, 3));
  KeyLine(o, "IV_increment", fix(x.ivIncrement, 12, 6), "V");
  KeyLine(o, "IV_calculate", intw(a.iv.on, 2));
  KeyLine(o, "stop after Voc", intw(x.stopAfterVoc, 2));

  KeyLine(o, "CV_startV", fix(a.cv.startV, 10, 4), "V");
  KeyLine(o, "CV_stopV", fix(a.cv.stopV, 10, 4), "V");
  KeyLine(o, "CV_points", intw(a.cv.points, 3));
  KeyLine(o, "CV_increment", fix(x.cvIncrement, 12, 6), "V");
  KeyLine(o, "CV_calculate", intw(a.cv.on, 2));

  KeyLine(o, "Cf_startf", sci(a.cf.startF, 12, 3), "Hz");
  KeyLine(o, "Cf_stopf", sci(a.cf.stopF, 12, 3), "Hz");
  KeyLine(o, "Cf_total points", intw(a.cf.points, 3));
  KeyLine(o, "Cf_points per decade", fix(x.cfPointsPerDecade, 3, 0));
  KeyLine(o, "Cf_calculate", intw(a.cf.on, 2));

  KeyLine(o, "QE_startlambda", intw(a.qe.startLambda, 5), "nm");
  KeyLine(o, "QE_stoplambda", intw(a.qe.stopLambda, 5), "nm");
  KeyLine(o, "QE_points", intw(a.qe.points, 3));
  KeyLine(o, "QE_increment", intw(x.qeIncrement, 5), "nm");
  KeyLine(o, "QE_calculate", intw(a.qe.on, 2));
  return o;
}

int SaveActionPanelInFile(std::FILE* file, UserInterface& ui, const HeaderInfo& header, const WorkPoint& wp,
                          const WorkPoint& secondwp, const MeasurementActions& actie, const ActionListExtras& extras) {
  return WriteAll(file, WithHeader(ui, header, kActionListTitle, ActionListFileBody(wp, secondwp, actie, extras))) ? 0
                                                                                                                   : -1;
}

int SetActionPanelFromFile(const Environment& env, std::string_view name, WorkPoint& wp, WorkPoint& secondwp,
                           MeasurementActions& actie, ActionListExtras& extras, std::string* fullPath) {
  std::string full;
  CheckZONIQPaths(env.programFolder, &full, nullptr, name, FK_ACTION);
  if (fullPath) *fullPath = full;
  FilePtr file = OpenForReading(env, full, kActionFileErrorTitle, "action file");
  if (!file) return -1;
  return SetActionPanelFromStream(env, file.get(), full, wp, secondwp, actie, extras);
}

int SetActionPanelFromStream(const Environment& env, std::FILE* file, const std::string& full, WorkPoint& wp,
                             WorkPoint& secondwp, MeasurementActions& actie, ActionListExtras& extras) {
  // Parse into copies: a file rejected half-way leaves the records as they were.
  WorkPoint w1 = wp, w2 = secondwp;
  MeasurementActions a = actie;
  ActionListExtras x = extras;
  WorkPointSeen seen1, seen2;
  SweepSeen sweeps;
  std::vector<KeyHandler> table;
  AddWorkPointKeys(table, w1, seen1, "", true);
  AddWorkPointKeys(table, w2, seen2, kSecondPrefix, false);
  AddActionKeys(table, a, x, w1, sweeps);

  if (!ReadSettingsFile(env, file, table, kActionFileErrorTitle, "Action file: " + full,
                        "the file holds no action-list settings"))
    return -2;

  FinishWorkPoint(env, full, w1, seen1);
  FinishWorkPoint(env, full, w2, seen2);
  FinishSweeps(&env, a, x, sweeps);
  wp = std::move(w1);
  secondwp = std::move(w2);
  actie = a;
  extras = x;
  return 0;
}

// ---------------------------------------------------------------- second working point

std::string SecondWorkPointFileBody(const WorkPoint& secondwp) {
  std::string o;
  WorkPointLines(o, secondwp, kSecondPrefix, false);
  return o;
}

int SaveWP2InFile(std::FILE* file, UserInterface& ui, const HeaderInfo& header, const WorkPoint& secondwp) {
  return WriteAll(file, WithHeader(ui, header, kSecondWorkPointTitle, SecondWorkPointFileBody(secondwp))) ? 0 : -1;
}

int SetWP2FromFile(const Environment& env, std::string_view name, WorkPoint& secondwp, std::string* fullPath) {
  std::string full;
  CheckZONIQPaths(env.programFolder, &full, nullptr, name, FK_WP2);
  if (fullPath) *fullPath = full;
  FilePtr file = OpenForReading(env, full, kWP2FileErrorTitle, "second work point file");
  if (!file) return -1;

  WorkPoint w2 = secondwp;
  WorkPointSeen seen;
  std::vector<KeyHandler> table;
  AddWorkPointKeys(table, w2, seen, kSecondPrefix, false);
  if (!ReadSettingsFile(env, file.get(), table, kWP2FileErrorTitle, "Second work point file: " + full,
                        "the file holds no second work point settings"))
    return -2;
  FinishWorkPoint(env, full, w2, seen);
  secondwp = std::move(w2);
  return 0;
}

// ---------------------------------------------------------------- general settings

namespace {

const char* const kLevelsExplanation = " (a defect band is discretised into  separate single levels)";

}  // namespace

std::string GeneralSettingsFileBody(int errorMessageMode, int actionListMode, const ConvergenceParameters& c,
                                    const GeneralSettings& g) {
  std::string o;
  o += "handling of error messages : " + intw(errorMessageMode, 2) +
       " ; 0=to screen and wait for ackowledgement; 1=append to log file; 2=overwrite log file\n";
  o += "output list after a convergence error : " + intw(actionListMode, 2) +
       " ; 0=truncate; 1=fill with zero's; 2=fill with white space\n";
  o += "maximum voltage for the recording of solar cell characteristics (V) : " + fix(g.recordingMaxVoltage, 12, 6) +
       "\n";
  o += "minimum voltage increment for the recording of solar cell characteristics (V) : " +
       fix(g.recordingMinVoltageStep, 12, 8) + "\n";
  o += "number of energy levels in a distribution : " + intw(c.defectdiscretisations, 2) + kLevelsExplanation + "\n";
  o += "width of tail-like energy distribution (multiple of Echar) : " + fix(c.widthtail, 8, 4) + kLevelsExplanation +
       "\n";
  o += "width of gaussian energy distribution (multiple of Echar) : " + fix(c.widthgauss, 8, 4) + kLevelsExplanation +
       "\n";
  return o;
}

namespace {

// The output folder of the session, when one is set, as the last line of the general settings.
std::string OutputFolderLine(const SessionCore& core) {
  return core.outputFolder.empty() ? std::string() : "output folder :\"" + core.outputFolder + "\"\n";
}

}  // namespace

int SaveGeneralZONIQSettings(std::FILE* file, UserInterface& ui, const HeaderInfo& header, const SessionCore& core,
                             const ConvergenceParameters& convergence, const GeneralSettings& general) {
  const std::string body =
      GeneralSettingsFileBody(core.errors.ErrorMessageMode, core.ActionListMode, convergence, general) +
      OutputFolderLine(core);
  return WriteAll(file, WithHeader(ui, header, kGeneralSettingsTitle, body)) ? 0 : -1;
}

int SetGeneralZONIQSettingsFromFile(SessionCore& core, std::string_view name, ConvergenceParameters& convergence,
                                    GeneralSettings& general, std::string* fullPath) {
  const Environment env = core.env();
  std::string full;
  CheckZONIQPaths(env.programFolder, &full, nullptr, name, FK_ALLSETTINGS);
  if (fullPath) *fullPath = full;
  FilePtr file = OpenForReading(env, full, kGeneralSettingsErrorTitle, "General Settings File not found:\n" + full);
  if (!file) return -1;
  return SetGeneralZONIQSettingsFromStream(core, file.get(), full, convergence, general);
}

int SetGeneralZONIQSettingsFromStream(SessionCore& core, std::FILE* file, const std::string& full,
                                      ConvergenceParameters& convergence, GeneralSettings& general) {
  const Environment env = core.env();
  int errorMode = core.errors.ErrorMessageMode;
  int listMode = core.ActionListMode;
  ConvergenceParameters c = convergence;
  GeneralSettings g = general;
  // The keywords are followed by an explanation in brackets before the colon of the value.
  auto valueAfterColon = [](std::string_view rest, std::string_view key) {
    const auto colon = rest.find(':');
    if (colon == std::string_view::npos) throw Reject{"no value follows \"" + std::string(key) + "\""};
    return TrimLeft(rest.substr(colon + 1));
  };
  std::vector<KeyHandler> table;
  table.push_back({"handling of error messages :", [&](std::string_view v) {
                     errorMode = IntValue(v, "handling of error messages", 0, 2, "0, 1 or 2");
                   }});
  table.push_back({"output list after a convergence error :", [&](std::string_view v) {
                     listMode = IntValue(v, "output list after a convergence error", 0, 2, "0, 1 or 2");
                   }});
  table.push_back({"number of energy levels in a distribution :", [&](std::string_view v) {
                     c.defectdiscretisations =
                         IntValue(v, "number of energy levels in a distribution", 1, 10000, "between 1 and 10000");
                   }});
  table.push_back({"width of tail-like energy distribution", [&](std::string_view v) {
                     const char* key = "width of tail-like energy distribution";
                     c.widthtail = PositiveFixed(valueAfterColon(v, key), key, 4, kMaxFixedMagnitude, "positive");
                   }});
  table.push_back({"width of gaussian energy distribution", [&](std::string_view v) {
                     const char* key = "width of gaussian energy distribution";
                     c.widthgauss = PositiveFixed(valueAfterColon(v, key), key, 4, kMaxFixedMagnitude, "positive");
                   }});
  table.push_back({"maximum voltage for the recording", [&](std::string_view v) {
                     const char* key = "maximum voltage for the recording";
                     g.recordingMaxVoltage = RealValue(valueAfterColon(v, key), key, -kMaxFixedMagnitude,
                                                       kMaxFixedMagnitude, "a voltage of at most 1e6 V");
                   }});
  table.push_back({"minimum voltage increment for the recording", [&](std::string_view v) {
                     const char* key = "minimum voltage increment for the recording";
                     g.recordingMinVoltageStep = PositiveFixed(valueAfterColon(v, key), key, 8, kMaxFixedMagnitude,
                                                               "a positive voltage of at most 1e6 V");
                   }});

  // Where result files named without a folder go (written only when one is set).
  std::string outputFolder = core.outputFolder;
  table.push_back({"output folder :", [&](std::string_view v) { outputFolder = QuotedName(v); }});

  if (!ReadSettingsFile(env, file, table, kGeneralSettingsErrorTitle, "General settings file: " + full,
                        "the file holds no general settings"))
    return -2;
  core.outputFolder = outputFolder;
  core.ErrorHandling(errorMode);
  core.ActionList(listMode);
  convergence = c;
  general = g;
  return 0;
}

// ---------------------------------------------------------------- named files and dialogs

int SaveActionListToPath(const Environment& env, std::string_view name, const HeaderInfo& header, const WorkPoint& wp,
                         const WorkPoint& secondwp, const MeasurementActions& actie, const ActionListExtras& extras) {
  std::string full;
  CheckZONIQPaths(env.programFolder, &full, nullptr, name, FK_ACTION);
  return SaveTextToPath(env, full,
                        WithHeader(*env.ui, header, kActionListTitle, ActionListFileBody(wp, secondwp, actie, extras)));
}

int SaveWP2ToPath(const Environment& env, std::string_view name, const HeaderInfo& header, const WorkPoint& secondwp) {
  std::string full;
  CheckZONIQPaths(env.programFolder, &full, nullptr, name, FK_WP2);
  return SaveTextToPath(env, full,
                        WithHeader(*env.ui, header, kSecondWorkPointTitle, SecondWorkPointFileBody(secondwp)));
}

int SaveGeneralSettingsToPath(SessionCore& core, std::string_view name, const HeaderInfo& header,
                              const ConvergenceParameters& convergence, const GeneralSettings& general) {
  const Environment env = core.env();
  std::string full;
  CheckZONIQPaths(env.programFolder, &full, nullptr, name, FK_ALLSETTINGS);
  const std::string body =
      GeneralSettingsFileBody(core.errors.ErrorMessageMode, core.ActionListMode, convergence, general) +
      OutputFolderLine(core);
  return SaveTextToPath(env, full, WithHeader(*env.ui, header, kGeneralSettingsTitle, body));
}

int SaveActionList(const Environment& env, const HeaderInfo& header, const WorkPoint& wp, const WorkPoint& secondwp,
                   const MeasurementActions& actie, const ActionListExtras& extras) {
  const auto choice = env.ui->FileSelectPopup(JoinPath(env.programFolder, "def"), "*.act",
                                              "Select a file to save the ZONIQ action list", true);
  if (!choice) return 1;
  return SaveActionListToPath(env, *choice, header, wp, secondwp, actie, extras);
}

int LoadActionList(const Environment& env, WorkPoint& wp, WorkPoint& secondwp, MeasurementActions& actie,
                   ActionListExtras& extras) {
  const auto choice = env.ui->FileSelectPopup(JoinPath(env.programFolder, "def"), "*.act;*.action",
                                              "Select a file with a ZONIQ action list", false);
  if (!choice) return 1;
  return SetActionPanelFromFile(env, *choice, wp, secondwp, actie, extras);
}

int SaveWP2Settings(const Environment& env, const HeaderInfo& header, const WorkPoint& secondwp) {
  const auto choice = env.ui->FileSelectPopup(JoinPath(env.programFolder, "def"), "*.wp2",
                                              "Select a file to save the ZONIQ second work point settings", true);
  if (!choice) return 1;
  return SaveWP2ToPath(env, *choice, header, secondwp);
}

int LoadWP2Settings(const Environment& env, WorkPoint& secondwp) {
  const auto choice = env.ui->FileSelectPopup(JoinPath(env.programFolder, "def"), "*.wp2",
                                              "Select a file with a ZONIQ second workpoint list", false);
  if (!choice) return 1;
  return SetWP2FromFile(env, *choice, secondwp);
}

}  // namespace zoniq
