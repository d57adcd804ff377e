// The settings files: the common header, the action list, the second working point and the
// general settings, written byte for byte and read back; the point/increment rules of the
// sweeps; and readers fed with hostile files.
#include "settings/settings_files.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <sstream>

#include "app/session.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

namespace fs = std::filesystem;
using test::ReadWholeFile;
using test::TempDir;
using test::WriteWholeFile;

// A session core whose messages are kept, on a program folder in a temporary directory with
// the sub-folders the readers look in and a spectrum and a generation file.
struct Fixture {
  TempDir dir;
  std::string home = (dir.path() / "home").string();
  RecordingUserInterface* ui = nullptr;
  std::unique_ptr<SessionCore> core;
  Environment env;

  Fixture() {
    for (const char* sub : {"def", "spectrum", "generation"}) fs::create_directories(fs::path(home) / sub);
    WriteWholeFile(spectrum(kStandardSpectrumName), "300 1.0\n400 1.0\n");
    WriteWholeFile(spectrum("lamp.spe"), "300 1.0\n400 1.0\n");
    WriteWholeFile(generation("g.gen"), "0 1e20\n1e-6 1e20\n");
    auto recording = std::make_unique<RecordingUserInterface>();
    ui = recording.get(), core = std::make_unique<SessionCore>(home, std::move(recording)), env = core->env();
  }
  std::string def(const std::string& name) const { return JoinPath(home + "/def", name); }
  std::string spectrum(const std::string& name) const { return JoinPath(home + "/spectrum", name); }
  std::string generation(const std::string& name) const { return JoinPath(home + "/generation", name); }
};

// The whole action-list state as the writer sees it, for "unchanged" checks.
struct ActionState {
  WorkPoint wp, secondwp;
  MeasurementActions actie;
  ActionListExtras extras;

  explicit ActionState(const std::string& home) {
    InitialiseWorkPoint(wp, home);
    InitialiseWorkPoint(secondwp, home);
  }
  std::string Text() const {
    return ActionListFileBody(wp, secondwp, actie, extras) + "Rs " + std::to_string(wp.RsPresent) + " " + num(wp.Rs) +
           " Rsh " + std::to_string(wp.RshPresent) + " " + num(wp.Gsh);
  }
  int Read(const Environment& env, const std::string& path) {
    return SetActionPanelFromFile(env, path, wp, secondwp, actie, extras);
  }
  int Save(const Environment& env, const std::string& path, const HeaderInfo& h) const {
    return SaveActionListToPath(env, path, h, wp, secondwp, actie, extras);
  }
};

HeaderInfo FixedHeader(std::string problem = "new problem") {
  HeaderInfo h;
  h.version = "ZONIQ 3.2.00 NORVALE: Version zoniq dated 01-02-2024, 03:04:05", h.problemName = std::move(problem);
  h.savedAt = DateTime{9, 8, 2025, 7, 6, 5};
  return h;
}

// The header of FixedHeader() under a file title, written by hand from the layout.
std::string Header(const std::string& title) {
  return "> ZONIQ 3.2.00 NORVALE: Version zoniq dated 01-02-2024, 03:04:05\n> ZONIQ " + title +
         ", saved on \t09-08-2025 at 07:06:05\n> no problem definition file loaded \n> \n";
}

// ---------------------------------------------------------------- header

// An editor that adds a remark of two lines (one line holding a line break), or cancels.
class EditingUserInterface : public RecordingUserInterface {
 public:
  explicit EditingUserInterface(bool accept) : accept_(accept) {}
  bool EditLines(std::string_view, std::vector<std::string>& lines) override {
    lines.push_back("cell A,\r\nsecond run");
    return accept_;
  }
  bool accept_;
};

TEST(SettingsHeader, DefinitionFileLinesEditedRemarksAndCancel) {
  RecordingUserInterface ui;
  std::string out;
  HeaderInfo h = FixedHeader("C:\\cells\\CIGS.def");
  h.problemSavedAt = DateTime{31, 12, 2023, 23, 59, 58};
  ASSERT_TRUE(WriteCommentLinesInFile(out, ui, h, kSecondWorkPointTitle));
  EXPECT_EQ(out,
            "> ZONIQ 3.2.00 NORVALE: Version zoniq dated 01-02-2024, 03:04:05\n"
            "> ZONIQ Second work point settings file, saved on \t09-08-2025 at 07:06:05\n"
            "> problem definition file loaded :\n> \"C:\\cells\\CIGS.def\"\n> last saved: \t31-12-2023 at 23:59:58\n"
            "> \n");
  // A definition file whose date cannot be found (moved since it was loaded).
  h.problemSavedAt.reset();
  EXPECT_EQ(CommentHeaderLines(h, kGeneralSettingsTitle)[4], "last saved: \tunknown");
  // Cancelling writes nothing.
  EditingUserInterface cancelling(false);
  out = "before";
  EXPECT_FALSE(WriteCommentLinesInFile(out, cancelling, FixedHeader(), kActionListTitle));
  EXPECT_EQ(out, "before");
}

// ---------------------------------------------------------------- points and increments

TEST(SweepPoints, CountsAndIncrementsFollowTheRules) {
  RecordingUserInterface ui;
  ErrorReporting errors;
  const Environment env{&ui, &errors, ""};
  // step: the increment (linear) or points per decade (logarithmic); wantStep NaN: not checked
  struct Case {
    double log, start, stop, points, step, stepChanged, result, wantPoints, wantStep;
  };
  const double kAny = NAN;
  const Case cases[] = {
      {false, 0.0, 1.0, 51, 0.0005, true, 0, 2001, 0.0005},  // 1 V in 0.5 mV: 2001 points, the most allowed
      {false, 0.0, 1.0, 51, 0.0001, true, 1, 2001, 0.0005},  // 10001 points: limited, the step 1 V / 2000
      {false, 0.8, -0.2, 5, 0.025, true, 0, 41, 0.025},      // falling, 40 steps
      {false, 0.0, 0.37, 51, 0.1, true, 0, 5, 0.0925},       // 3.7 steps round to 4
      // The count wins when the increment is not changed or not positive.
      {false, -0.2, 0.8, 41, 123.0, false, 0, 41, 0.025},
      {false, -0.2, 0.8, 41, -0.1, true, 0, 41, 0.025},
      // Counts below 2 become 2 silently; above 2001, or overflowing an int, limited.
      {false, 0.0, 1.0, -7, 1.0, false, 0, 2, 1.0},
      {false, 0.0, 1.0, 5000, 1.0, false, 1, 2001, 0.0005},
      {false, 0.0, 1.0, 5, 1e-300, true, 1, 2001, 0.0005},
      // Equal ends (0 to 0 too: |b - a| = 0 is not below 1e-15 (|a| + |b|)), and ends equal but
      // for rounding (0.1 + 0.2 differs from 0.3 by 5.6e-17): two points.
      {false, 0.0, 0.0, 51, 0.01, true, 0, 2, 0.0},
      {false, 0.3, 0.1 + 0.2, 51, 0.01, true, 0, 2, kAny},
      {true, 1e3, 1e3, 21, 5.0, true, 0, 2, kAny},
      {true, 1e2, 1e6, 2, 5.0, true, 0, 21, 5.0},         // 4 decades at 5 per decade
      {true, 1e2, 1e6, 2, 1000.0, true, 1, 2001, 500.0},  // 1000 per decade limited to 500
      {true, 1e5, 1e2, 31, 5.0, false, 0, 31, 10.0},      // from the count: 3 decades in 31 points
      // Refused ends change nothing.
      {false, 0.0, NAN, 7, 0.5, true, -1, 7, 0.5},
      {true, 0.0, 1e6, 21, 5.0, true, -1, 21, 5.0},
      {true, 1e2, INFINITY, 21, 5.0, true, -1, 21, 5.0},
  };
  int warnings = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << " " << c.stop << " " << c.points << " " << c.step);
    int points = int(c.points);
    double step = c.step;
    const int r = c.log ? ChangeNumberOfPointsLog(&env, c.start, c.stop, points, step, c.stepChanged != 0)
                        : ChangeNumberOfPointsLin(&env, c.start, c.stop, points, step, c.stepChanged != 0);
    EXPECT_EQ(r, int(c.result));
    EXPECT_EQ(points, int(c.wantPoints));
    if (!std::isnan(c.wantStep)) {
      EXPECT_CLOSE(step, c.wantStep, 1e-12, 0.0);
    }
    warnings += c.result == 1;
    EXPECT_EQ(static_cast<int>(ui.popups.size()), warnings);
  }
  ASSERT_FALSE(ui.popups.empty());
  EXPECT_EQ(ui.popups[0].title, "Warning !");
  EXPECT_EQ(ui.popups[0].message, "Number of calculation points is limited to 2001!");
}

// ---------------------------------------------------------------- action list

// A state with every written item away from its default; values chosen to be exact in the
// file's layouts.
void FillActionState(ActionState& s, const Fixture& f) {
  WorkPoint& w = s.wp;
  w.temperature = 310.25, w.voltage = 0.4375, w.frequency = 2.5e5, w.numberOfSteps = 7, w.dark = 0;
  w.generationFromFile = 1, w.spectrumFile = f.spectrum("lamp.spe"), w.spectrumCutOff = 1;
  w.shortWavelengthCutOff = 400.5, w.longWavelengthCutOff = 1100.25, w.neutralDensity = 1.0;
  w.generationFile = f.generation("g.gen"), w.attenuation = 87.5;
  WorkPoint& v = s.secondwp;
  v.temperature = 350.5, v.voltage = -0.25, v.dark = 0, v.spectrumCutOff = 1, v.shortWavelengthCutOff = 500.0;
  v.longWavelengthCutOff = 900.0, v.neutralDensity = 2.0, v.attenuation = 50.0;
  s.actie.iv = {1, -0.2, 0.8, 41, 0}, s.actie.cv = {1, -2.0, 0.5, 26, 0}, s.actie.cf = {1, 1e3, 1e5, 17, 0};
  s.actie.qe = {1, 350, 1150, 17, 0};
  s.extras = {.ivIncrement = 0.025, .cvIncrement = 0.1, .qeIncrement = 50, .cfPointsPerDecade = 8};
  s.extras.stopAfterVoc = 1, s.extras.pause = 1;
}

// `text` with "{home}" replaced by the program folder.
std::string AtHome(std::string text, const Fixture& f) {
  for (std::size_t at; (at = text.find("{home}")) != std::string::npos;) text.replace(at, 6, f.home);
  return text;
}

TEST(ActionListFile, ExactBytesAndRoundTripWithTheSecondWorkPointFile) {
  Fixture f;
  ActionState written(f.home), read(f.home);
  FillActionState(written, f);
  ASSERT_EQ(written.Save(f.env, "trip.act", FixedHeader()), 0);
  // Fix 8.2, Fix 10.4, Exp 12.4, Int 3, Int 2 ... right-aligned after " : "; OD 1 is 10 %.
  const std::string expected = AtHome(
      Header(kActionListTitle) +
          "Temperature :   310.25 K\nVoltage :     0.4375 V\nFrequency :   2.5000e+05 Hz\nNumber of points :   7\n"
          "dark :  0\ngeneration from file :  1\nspectrum file :\"{home}/spectrum/lamp.spe\"\n"
          "spectrum cut off :  1\nshort wavelength cut off :   400.50 nm\nlong wavelength cut off :  1100.25 nm\n"
          "neutral density :     1.0000\ntransmission :    10.0000 %\n"
          "generation file :\"{home}/generation/g.gen\"\nattenuation :    87.5000 %\n"
          "Secondworkpoint Temperature :   350.50 K\nSecondworkpoint Voltage :    -0.2500 V\n"
          "Secondworkpoint Number of points :   5\nSecondworkpoint dark :  0\n"
          "Secondworkpoint generation from file :  0\n"
          "Secondworkpoint spectrum file :\"{home}/spectrum/AM1_5G 1 sun.spe\"\n"
          "Secondworkpoint spectrum cut off :  1\nSecondworkpoint short wavelength cut off :   500.00 nm\n"
          "Secondworkpoint long wavelength cut off :   900.00 nm\nSecondworkpoint neutral density :     2.0000\n"
          "Secondworkpoint transmission :     1.0000 %\nSecondworkpoint generation file :\"{home}/generation/*.gen\"\n"
          "Secondworkpoint attenuation :    50.0000 %\npause :  1\n"
          "IV_startV :    -0.2000 V\nIV_stopV :     0.8000 V\nIV_points :  41\nIV_increment :     0.025000 V\n"
          "IV_calculate :  1\nstop after Voc :  1\n"
          "CV_startV :    -2.0000 V\nCV_stopV :     0.5000 V\nCV_points :  26\nCV_increment :     0.100000 V\n"
          "CV_calculate :  1\n"
          "Cf_startf :    1.000e+03 Hz\nCf_stopf :    1.000e+05 Hz\nCf_total points :  17\nCf_points per decade :   8\n"
          "Cf_calculate :  1\n"
          "QE_startlambda :   350 nm\nQE_stoplambda :  1150 nm\nQE_points :  17\nQE_increment :    50 nm\n"
          "QE_calculate :  1\n",
      f);
  EXPECT_EQ(ReadWholeFile(f.def("trip.act")), expected);

  // The resistances are not written, nor the second working point's frequency, and its count is
  // not read: what the working points have must stay.
  read.wp.RsPresent = read.wp.RshPresent = 1, read.wp.Rs = 3e-4, read.wp.Gsh = 20.0, read.secondwp.numberOfSteps = 9;
  read.secondwp.frequency = 4e4;
  ASSERT_EQ(read.Read(f.env, "trip.act"), 0);
  EXPECT_TRUE(f.ui->popups.empty());
  // Every written item is checked by the identical rewrite below; here what is derived, kept
  // or recomputed on reading.
  const WorkPoint& w = read.wp;
  EXPECT_EQ(w.spectrumName, "\\lamp.spe");
  EXPECT_EQ(w.generationName, "\\g.gen");
  EXPECT_EQ((std::vector<double>{double(w.RsPresent), w.Rs, double(w.RshPresent), w.Gsh, read.secondwp.frequency,
                                 double(read.secondwp.numberOfSteps)}),
            (std::vector<double>{1, 3e-4, 1, 20.0, 4e4, 9}));
  EXPECT_CLOSE(read.extras.ivIncrement, 0.025, 1e-12, 0.0);      // recomputed as 1.0/40
  EXPECT_CLOSE(read.extras.cvIncrement, 0.1, 1e-12, 0.0);        // 2.5/25
  EXPECT_CLOSE(read.extras.cfPointsPerDecade, 8.0, 1e-12, 0.0);  // 16 intervals over 2 decades
  EXPECT_EQ(read.extras.qeIncrement, 50);
  read.secondwp.numberOfSteps = written.secondwp.numberOfSteps;
  ASSERT_EQ(read.Save(f.env, "again.act", FixedHeader()), 0);
  EXPECT_EQ(ReadWholeFile(f.def("again.act")), expected);

  // The second-working-point file: the action list's "Secondworkpoint" lines under its own title.
  ASSERT_EQ(SaveWP2ToPath(f.env, "second.wp2", FixedHeader(), written.secondwp), 0);
  std::string wp2 = Header(kSecondWorkPointTitle);
  std::istringstream act(expected);
  for (std::string line; std::getline(act, line);)
    if (line.rfind("Secondworkpoint ", 0) == 0) wp2 += line + "\n";
  EXPECT_EQ(ReadWholeFile(f.def("second.wp2")), wp2);
  // Either file sets the second working point (not the first's 310.25 from the action list).
  for (const char* name : {"trip.act", "second.wp2"}) {
    WorkPoint r;
    ASSERT_EQ(SetWP2FromFile(f.env, name, r), 0);
    EXPECT_EQ(std::pair(r.temperature, r.voltage), std::pair(350.5, -0.25));
  }
  EXPECT_TRUE(f.ui->popups.empty());
  // A bad value, only first-working-point lines, no file: refused, nothing changes.
  WorkPoint r;
  WriteWholeFile(f.def("bad.wp2"), "Secondworkpoint Voltage : 0.3\nSecondworkpoint Temperature : -4\n");
  WriteWholeFile(f.def("first.wp2"), "Temperature : 280\nVoltage : 0.3\n");
  EXPECT_EQ(SetWP2FromFile(f.env, "bad.wp2", r), -2);
  EXPECT_EQ(SetWP2FromFile(f.env, "first.wp2", r), -2);
  EXPECT_EQ(SetWP2FromFile(f.env, "none.wp2", r), -1);
  EXPECT_EQ(std::pair(r.temperature, r.voltage), std::pair(300.0, 0.0));
}
TEST(ActionListFile, IncrementsCountsUnitsTransmissionCommentsAndLineEnds) {
  Fixture f;
  const std::string path = f.def("r.act");
  ActionState s(f.home);
  // 0..1 V in 0.05 V: 21 points; 0..1 V in 0.1 mV: 10001, limited with the warning to 2001;
  // QE 400..800 nm in 20 nm: 21 points; C-f 1e1..1e4 Hz at 4 per decade: 13 points. Comments,
  // unknown lines and the second working point's frequency and count are not read.
  WriteWholeFile(
      path,
      "> Temperature : 1\n< Temperature : 2\n* Temperature : 3\n! Temperature : 4\n"
      "/ Temperature : 5\n\\ Temperature : 6\n\n   \nsomething else : 7\n"
      "Secondworkpoint Frequency : 5e3 Hz\nSecondworkpoint Number of points : 99\n  Voltage : 0.125 V\n"
      "IV_startV : 0\nIV_stopV : 1\nIV_increment : 0.05\nCV_startV : 0\nCV_stopV : 1\nCV_increment : 0.0001\n"
      "QE_startlambda : 400\nQE_stoplambda : 800\nQE_increment : 20\n"
      "Cf_startf : 1e1\nCf_stopf : 1e4\nCf_points per decade : 4\n");
  s.secondwp.numberOfSteps = 4;
  ASSERT_EQ(s.Read(f.env, path), 0);
  EXPECT_EQ((std::vector<int>{s.actie.iv.points, s.actie.cv.points, s.actie.qe.points, s.actie.cf.points}),
            (std::vector<int>{21, 2001, 21, 13}));
  EXPECT_CLOSE(s.extras.cvIncrement, 0.0005, 1e-12, 0.0);
  EXPECT_EQ(f.ui->popups.size(), 1u);  // the limit's warning (its text is checked under SweepPoints)
  EXPECT_EQ(
      (std::vector<double>{s.wp.temperature, s.wp.voltage, s.secondwp.frequency, double(s.secondwp.numberOfSteps)}),
      (std::vector<double>{300.0, 0.125, 1e6, 4}));
  f.ui->popups.clear();

  // Rs in Ohm cm2 (x 1e-4 -> Ohm m2); Rsh 1000 Ohm cm2 -> Gsh 1e-3 S/cm2 = 10 S/m2; a
  // transmission of 10 % without a neutral density is OD 1; keywords in any case; CRLF.
  WriteWholeFile(path,
                 "Rs present : 1\r\nRs : 2.5\r\nRsh present : 1\r\nRsh : 1000\r\ntransmission : 10\r\n"
                 "TEMPERATURE : 250\r\n");
  ASSERT_EQ(s.Read(f.env, path), 0);
  EXPECT_EQ(s.wp.RsPresent + s.wp.RshPresent, 2);
  EXPECT_CLOSE(s.wp.Rs, 2.5e-4, 1e-15, 0.0);
  EXPECT_CLOSE(s.wp.Gsh, 10.0, 1e-12, 0.0);
  EXPECT_CLOSE(s.wp.neutralDensity, 1.0, 1e-15, 0.0);
  EXPECT_EQ(s.wp.temperature, 250.0);
  // Gsh directly: 0.002 S/cm2 = 20 S/m2; an Rsh below 1e-6 Ohm cm2 is raised to it: 1e6 S/cm2.
  for (const auto& [text, gsh] : {std::pair{"Gsh : 0.002\n", 20.0}, std::pair{"Rsh : 0\n", 1e10}}) {
    WriteWholeFile(path, text);
    ASSERT_EQ(s.Read(f.env, path), 0);
    EXPECT_CLOSE(s.wp.Gsh, gsh, 1e-12, 0.0);
  }
  // With a neutral density in the file the transmission (rounded to 4 decimals) is not used:
  // OD 0.1234 gives 100 x 10^-0.1234 = 75.2662 %, whose OD would be 0.1234000098; a dense
  // filter (OD 9) writes 0.0000 % and must still read back.
  for (const double od : {0.1234, 9.0}) {
    WriteWholeFile(path, "neutral density : " + fix(od, 10, 4) +
                             "\ntransmission : " + fix(100.0 * std::pow(10.0, -od), 10, 4) + " %\n");
    ASSERT_EQ(s.Read(f.env, path), 0);
    EXPECT_EQ(s.wp.neutralDensity, od);
  }
  // Every count from 2 to 2001 over 0..1 V. The increment is written with 6 decimals, and a
  // count taken from it would differ for 500 of these 2000 counts: for 1999 points 1/1998 is
  // written as 0.000501, and round(1/0.000501) + 1 = 1997. The count must survive.
  int wrong = 0;
  for (int n = 2; n <= 2001; ++n) {
    WriteWholeFile(path, "IV_startV :     0.0000 V\nIV_stopV :     1.0000 V\nIV_points : " + intw(n, 3) +
                             "\nIV_increment : " + fix(1.0 / (n - 1), 12, 6) + " V\n");
    ASSERT_EQ(s.Read(f.env, path), 0) << n;
    if (s.actie.iv.points != n || std::fabs(s.extras.ivIncrement - 1.0 / (n - 1)) > 1e-15) ++wrong;
  }
  EXPECT_EQ(wrong, 0);

  EXPECT_TRUE(f.ui->popups.empty());
}

TEST(ActionListFile, MissingSpectrumAndGenerationFilesAreReplaced) {
  Fixture f;
  const std::string path = f.def("m.act");
  WriteWholeFile(path,
                 "dark : 0\ngeneration from file : 1\nspectrum file :\"gone.spe\"\n"
                 "generation file :\"gone.gen\"\nTemperature : 280\n");
  ActionState s(f.home);
  ASSERT_EQ(s.Read(f.env, path), 0);
  ASSERT_EQ(f.ui->popups.size(), 2u);
  EXPECT_NE(f.ui->popups[0].message.find("Spectrumfile not found: " + f.spectrum("gone.spe")), std::string::npos);
  EXPECT_NE(f.ui->popups[1].message.find("Generation file not found: " + f.generation("gone.gen")), std::string::npos);
  // Replaced with the standard spectrum and the computed generation; the rest of the file is taken.
  EXPECT_EQ(s.wp.spectrumFile, f.spectrum("AM1_5G 1 sun.spe"));
  EXPECT_EQ(std::pair(s.wp.generationFromFile, s.wp.temperature), std::pair(0, 280.0));
  // The placeholder generation name is no file, but unused when the generation is computed.
  f.ui->popups.clear();
  WriteWholeFile(path, "generation from file : 0\ngeneration file :\"*.gen\"\n");
  ASSERT_EQ(s.Read(f.env, path), 0);
  EXPECT_TRUE(f.ui->popups.empty());
}

TEST(ActionListFile, RejectedFilesChangeNothing) {
  Fixture f;
  ActionState s(f.home);
  FillActionState(s, f);
  s.wp.RsPresent = 1, s.wp.Rs = 1e-4;
  const std::string before = s.Text();
  const std::string path = f.def("bad.act");
  const std::pair<std::string, const char*> cases[] = {
      // {content, part of the message}
      {std::string("\x00\x01\xff\xfe\n\x7f\x80", 8), "holds no action-list settings"},
      {"Voltage : 0.1\nTemperature : nan\n", "line 2: the value of \"Temperature\" is not a number"},
      {"Voltage : 1e999\n", "line 1: the value of \"Voltage\""},
      // Values below the last decimal the file writes would be saved as 0 and not read back.
      {"Temperature : .003\n", "of at least 0.01"},
      {"attenuation : 0.00001\n", "of at least 0.0001"},
      {"IV_points : -3\n", "should be a number of points"},
      {"IV_points : 4.5\n", "should be a whole number"},
      {"dark : 2\n", "should be 0 or 1"},
      {"Cf_startf : 0\n", "\"Cf_startf\" should be a positive frequency"},
      {"Number of points : 1\n", "between 2 and 2001"},
      {"QE_startlambda : 0\n", "should be a wavelength above 0 nm"},
      {"neutral density : -1\n", "should be an optical density"},
      {"transmission : 0\n", "should be above 0 %"},
      {"Temperature : 300" + std::string(100000, '0') + "\n", "line 1 is longer than 1023 characters"},
  };
  for (const auto& [content, problem] : cases) {
    SCOPED_TRACE(content.substr(0, 40));
    WriteWholeFile(path, content);
    f.ui->popups.clear();
    EXPECT_EQ(s.Read(f.env, path), -2);
    EXPECT_EQ(s.Text(), before);
    ASSERT_EQ(f.ui->popups.size(), 1u);
    EXPECT_EQ(f.ui->popups[0].title, "Error whilst reading the action file");
    EXPECT_EQ(f.ui->popups[0].message.rfind("Action file: " + path + "\n", 0), 0u) << f.ui->popups[0].message;
    EXPECT_NE(f.ui->popups[0].message.find(problem), std::string::npos) << f.ui->popups[0].message;
  }
  EXPECT_EQ(s.Read(f.env, f.home + "/def"), -1);  // a folder is no file
  EXPECT_EQ(s.Text(), before);
  WriteWholeFile(path, std::string(200000, 'x') + "\nVoltage : 0.25\n");  // a huge line without a keyword is skipped
  EXPECT_EQ(s.Read(f.env, path), 0);
  EXPECT_EQ(s.wp.voltage, 0.25);
}

// ---------------------------------------------------------------- general settings

TEST(GeneralSettingsFile, ExactBytesRoundTripRefusalsAndUnwritableFiles) {
  Fixture f;
  f.core->ErrorHandling(1);
  f.core->ActionList(2);
  ConvergenceParameters c;
  c.defectdiscretisations = 9, c.widthtail = 7.5, c.widthgauss = 5.25;
  const GeneralSettings g{1.25, 0.0005};  // maximum voltage, minimum voltage step of the recording
  ASSERT_EQ(SaveGeneralSettingsToPath(*f.core, "general.zoniq", FixedHeader(), c, g), 0);
  const std::string levels = " (a defect band is discretised into  separate single levels)\n";
  EXPECT_EQ(ReadWholeFile(f.def("general.zoniq")),
            Header(kGeneralSettingsTitle) +
                "handling of error messages :  1 ; 0=to screen and wait for ackowledgement; 1=append to log file; "
                "2=overwrite log file\n"
                "output list after a convergence error :  2 ; 0=truncate; 1=fill with zero's; 2=fill with white space\n"
                "maximum voltage for the recording of solar cell characteristics (V) :     1.250000\n"
                "minimum voltage increment for the recording of solar cell characteristics (V) :   0.00050000\n"
                "number of energy levels in a distribution :  9" +
                levels + "width of tail-like energy distribution (multiple of Echar) :   7.5000" + levels +
                "width of gaussian energy distribution (multiple of Echar) :   5.2500" + levels);
  // Missing and rejected files change nothing.
  Fixture f2;
  ConvergenceParameters c2;
  GeneralSettings g2;
  std::string full;
  EXPECT_EQ(SetGeneralZONIQSettingsFromFile(*f2.core, "absent.zoniq", c2, g2, &full), -1);
  EXPECT_EQ(full, f2.def("absent.zoniq"));
  const std::string path = f2.def("bad.zoniq");
  for (const std::string text : {"handling of error messages :  3\n",
                                 "handling of error messages :  2\nnumber of energy levels in a distribution :  0\n",
                                 "width of gaussian energy distribution (multiple of Echar) : nan\n",
                                 "width of gaussian energy distribution 7\n",
                                 // below the last of the decimals the file writes
                                 "minimum voltage increment for the recording (V) : 1e-9\n",
                                 "maximum voltage for the recording (V) : 1e999\n", "\x01\x02garbage\n", ""}) {
    SCOPED_TRACE(text);
    WriteWholeFile(path, text);
    f2.ui->popups.clear();
    EXPECT_EQ(SetGeneralZONIQSettingsFromFile(*f2.core, path, c2, g2), -2);
    EXPECT_EQ(f2.core->errors.ErrorMessageMode, 0);
    EXPECT_TRUE(c2 == ConvergenceParameters{} && g2 == GeneralSettings{});
    EXPECT_EQ(f2.ui->popups.size(), 1u);
  }
  // Files that cannot be written are reported.
  ActionState s(f2.home);
  const std::string nowhere = f2.home + "/no such folder/x";
  f2.ui->popups.clear();
  EXPECT_EQ(s.Save(f2.env, nowhere + ".act", FixedHeader()), -1);
  EXPECT_EQ(SaveWP2ToPath(f2.env, nowhere + ".wp2", FixedHeader(), s.secondwp), -1);
  EXPECT_EQ(SaveGeneralSettingsToPath(*f2.core, nowhere + ".zoniq", FixedHeader(), {}, {}), -1);
  ASSERT_EQ(f2.ui->popups.size(), 3u);
  EXPECT_NE(f2.ui->popups[0].message.find(nowhere + ".act"), std::string::npos);
  // Read into the untouched session: everything comes back.
  f2.ui->popups.clear();
  ASSERT_EQ(SetGeneralZONIQSettingsFromFile(*f2.core, f.def("general.zoniq"), c2, g2), 0);
  EXPECT_EQ(std::pair(f2.core->errors.ErrorMessageMode, f2.core->ActionListMode), std::pair(1, 2));
  EXPECT_EQ(c2, c);
  EXPECT_EQ(g2, g);
  EXPECT_TRUE(f2.ui->popups.empty());

  // A file with only some of the lines sets those; a commented line is not read.
  WriteWholeFile(path, "> handling of error messages :  2\nnumber of energy levels in a distribution : 12\n");
  EXPECT_EQ(SetGeneralZONIQSettingsFromFile(*f2.core, path, c2, g2), 0);
  EXPECT_EQ(f2.core->errors.ErrorMessageMode, 1);
  EXPECT_EQ(c2.defectdiscretisations, 12);
}

}  // namespace
}  // namespace zoniq
