// The settings files: the common header, the action list, the second working point and the
// general settings, written byte for byte and read back; the point/increment rules of the
// sweeps; and readers fed with hostile files.
#include "settings/settings_files.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <sstream>

#include "app/command_line.hpp"
#include "app/main_program.hpp"
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
    ui = recording.get();
    core = std::make_unique<SessionCore>(home, std::move(recording));
    env = core->env();
  }
  std::string def(const std::string& name) const { return JoinPath(JoinPath(home, "def"), name); }
  std::string spectrum(const std::string& name) const { return JoinPath(JoinPath(home, "spectrum"), name); }
  std::string generation(const std::string& name) const { return JoinPath(JoinPath(home, "generation"), name); }
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
};

HeaderInfo FixedHeader(std::string problem = "new problem") {
  HeaderInfo h;
  h.version = "ZONIQ 3.2.00 NORVALE: Version zoniq dated 01-02-2024, 03:04:05";
  h.problemName = std::move(problem);
  h.savedAt = DateTime{9, 8, 2025, 7, 6, 5};
  return h;
}

// The header of FixedHeader() for an action list, written by hand from the layout.
const std::string kActionHeader =
    "> ZONIQ 3.2.00 NORVALE: Version zoniq dated 01-02-2024, 03:04:05\n"
    "> ZONIQ Action List file, saved on \t09-08-2025 at 07:06:05\n"
    "> no problem definition file loaded \n"
    "> \n";

// ---------------------------------------------------------------- header

class CancellingUserInterface : public RecordingUserInterface {
 public:
  bool EditLines(std::string_view, std::vector<std::string>&) override { return false; }
};

// An editor that adds a remark of two lines (one line holding a line break).
class AddingUserInterface : public RecordingUserInterface {
 public:
  bool EditLines(std::string_view, std::vector<std::string>& lines) override {
    lines.push_back("cell A,\r\nsecond run");
    return true;
  }
};

TEST(SettingsHeader, LinesWithAndWithoutALoadedDefinitionFile) {
  // Without one: the action list's exact bytes below.
  RecordingUserInterface ui;
  std::string out;
  HeaderInfo h = FixedHeader("C:\\cells\\CIGS.def");
  h.problemSavedAt = DateTime{31, 12, 2023, 23, 59, 58};
  ASSERT_TRUE(WriteCommentLinesInFile(out, ui, h, kSecondWorkPointTitle));
  EXPECT_EQ(out,
            "> ZONIQ 3.2.00 NORVALE: Version zoniq dated 01-02-2024, 03:04:05\n"
            "> ZONIQ Second work point settings file, saved on \t09-08-2025 at 07:06:05\n"
            "> problem definition file loaded :\n"
            "> \"C:\\cells\\CIGS.def\"\n"
            "> last saved: \t31-12-2023 at 23:59:58\n"
            "> \n");

  // A definition file whose date cannot be found (moved since it was loaded).
  h.problemSavedAt.reset();
  EXPECT_EQ(CommentHeaderLines(h, kGeneralSettingsTitle)[4], "last saved: \tunknown");
}

TEST(SettingsHeader, TheDefinitionFileDateComesFromTheFile) {
  // The file date itself (against the C library's calendar) is checked with the result files.
  TempDir dir;
  const std::string def = dir.file("cell.def");
  WriteWholeFile(def, "x");
  const HeaderInfo h = MakeHeaderInfo("banner", def);
  ASSERT_TRUE(h.problemSavedAt.has_value());
  const DateTime t = *h.problemSavedAt, f = *FileModificationTime(def);
  EXPECT_EQ((std::vector<int>{t.day, t.month, t.year, t.hour, t.minute, t.second}),
            (std::vector<int>{f.day, f.month, f.year, f.hour, f.minute, f.second}));
  EXPECT_FALSE(MakeHeaderInfo("banner", "new problem").problemSavedAt.has_value());
}

TEST(SettingsHeader, EditedLinesStayCommentsAndCancellingWritesNothing) {
  AddingUserInterface adding;
  std::string out;
  ASSERT_TRUE(WriteCommentLinesInFile(out, adding, FixedHeader(), kActionListTitle));
  EXPECT_EQ(out, kActionHeader + "> cell A,\n> second run\n");

  CancellingUserInterface cancelling;
  out = "before";
  EXPECT_FALSE(WriteCommentLinesInFile(out, cancelling, FixedHeader(), kActionListTitle));
  EXPECT_EQ(out, "before");
}

// ---------------------------------------------------------------- points and increments

TEST(SweepPoints, CountsAndIncrementsFollowTheRules) {
  RecordingUserInterface ui;
  ErrorReporting errors;
  const Environment env{&ui, &errors, ""};
  struct Case {
    bool log;
    double start, stop;
    int points;
    double step;  // the increment (linear) or points per decade (logarithmic)
    bool stepChanged;
    int result, wantPoints;
    double wantStep;  // NaN: not checked
  };
  const double kAny = NAN;
  const Case cases[] = {
      // 0..1 V in 0.5 mV: 1/0.0005 + 1 = 2001 points, the largest sweep allowed, no warning.
      {false, 0.0, 1.0, 51, 0.0005, true, 0, 2001, 0.0005},
      // 0.1 mV would be 10001 points: limited with a warning, the step becomes 1 V / 2000.
      {false, 0.0, 1.0, 51, 0.0001, true, 1, 2001, 0.0005},
      // Falling: 0.8 V to -0.2 V in 25 mV is 40 steps; 0.37 V in 0.1 V rounds to 4 steps.
      {false, 0.8, -0.2, 5, 0.025, true, 0, 41, 0.025},
      {false, 0.0, 0.37, 51, 0.1, true, 0, 5, 0.0925},
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
      {false, -1.5, -1.5, 51, 0.01, false, 0, 2, 0.0},
      {false, 0.3, 0.1 + 0.2, 51, 0.01, true, 0, 2, kAny},
      {true, 1e3, 1e3, 21, 5.0, true, 0, 2, kAny},
      // 1e2..1e6 Hz is 4 decades: 5 per decade is 21 points; 1000 per decade is limited to 500.
      {true, 1e2, 1e6, 2, 5.0, true, 0, 21, 5.0},
      {true, 1e2, 1e6, 2, 1000.0, true, 1, 2001, 500.0},
      // From the count, falling: 3 decades in 31 points is 10 per decade.
      {true, 1e5, 1e2, 31, 5.0, false, 0, 31, 10.0},
      // Refused ends change nothing.
      {false, 0.0, NAN, 7, 0.5, true, -1, 7, 0.5},
      {true, 0.0, 1e6, 21, 5.0, true, -1, 21, 5.0},
      {true, 1e2, -1e3, 21, 5.0, true, -1, 21, 5.0},
      {true, 1e2, INFINITY, 21, 5.0, true, -1, 21, 5.0},
  };
  int warnings = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << " " << c.stop << " " << c.points << " " << c.step);
    int points = c.points;
    double step = c.step;
    const int r = c.log ? ChangeNumberOfPointsLog(&env, c.start, c.stop, points, step, c.stepChanged)
                        : ChangeNumberOfPointsLin(&env, c.start, c.stop, points, step, c.stepChanged);
    EXPECT_EQ(r, c.result);
    EXPECT_EQ(points, c.wantPoints);
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
  w.temperature = 310.25;
  w.voltage = 0.4375;
  w.frequency = 2.5e5;
  w.numberOfSteps = 7;
  w.dark = 0;
  w.generationFromFile = 1;
  w.spectrumFile = f.spectrum("lamp.spe");
  w.spectrumCutOff = 1;
  w.shortWavelengthCutOff = 400.5;
  w.longWavelengthCutOff = 1100.25;
  w.neutralDensity = 1.0;
  w.generationFile = f.generation("g.gen");
  w.attenuation = 87.5;
  WorkPoint& v = s.secondwp;
  v.temperature = 350.5;
  v.voltage = -0.25;
  v.dark = 0;
  v.spectrumCutOff = 1;
  v.shortWavelengthCutOff = 500.0;
  v.longWavelengthCutOff = 900.0;
  v.neutralDensity = 2.0;
  v.attenuation = 50.0;
  s.extras.pause = 1;
  s.actie.iv = {1, -0.2, 0.8, 41, 0};
  s.extras.ivIncrement = 0.025;
  s.extras.stopAfterVoc = 1;
  s.actie.cv = {1, -2.0, 0.5, 26, 0};
  s.extras.cvIncrement = 0.1;
  s.actie.cf = {1, 1e3, 1e5, 17, 0};
  s.extras.cfPointsPerDecade = 8;
  s.actie.qe = {1, 350, 1150, 17, 0};
  s.extras.qeIncrement = 50;
}

TEST(ActionListFile, ExactBytes) {
  ActionState s("C:\\ZONIQ");
  s.wp.voltage = 0.5;
  s.wp.dark = 0;
  s.wp.spectrumCutOff = 1;
  s.wp.shortWavelengthCutOff = 400;
  s.wp.longWavelengthCutOff = 1100;
  s.wp.neutralDensity = 1.0;
  s.wp.spectrumFile = "C:\\ZONIQ\\spectrum\\AM1_5G 1 sun.spe";
  s.wp.generationFile = "C:\\ZONIQ\\generation\\*.gen";
  s.secondwp.temperature = 350.5;
  s.secondwp.voltage = -0.25;
  s.secondwp.numberOfSteps = 10;
  s.secondwp.spectrumFile = "lamp.spe";
  s.secondwp.generationFile = "g.gen";
  s.secondwp.attenuation = 12.5;
  s.actie.iv = {1, -0.2, 0.8, 41, 0};
  s.extras.ivIncrement = 0.025;
  s.extras.stopAfterVoc = 1;
  s.actie.cf.on = 1;

  TempDir dir;
  const std::string path = dir.file("a.act");
  {
    FilePtr file = OpenFile(path, "wb");
    RecordingUserInterface ui;
    ASSERT_EQ(SaveActionPanelInFile(file.get(), ui, FixedHeader(), s.wp, s.secondwp, s.actie, s.extras), 0);
  }
  // Fix 8.2, Fix 10.4, Exp 12.4, Int 3, Int 2 ... right-aligned after " : ".
  const std::string expected = kActionHeader +
                               "Temperature :   300.00 K\n"
                               "Voltage :     0.5000 V\n"
                               "Frequency :   1.0000e+06 Hz\n"
                               "Number of points :   5\n"
                               "dark :  0\n"
                               "generation from file :  0\n"
                               "spectrum file :\"C:\\ZONIQ\\spectrum\\AM1_5G 1 sun.spe\"\n"
                               "spectrum cut off :  1\n"
                               "short wavelength cut off :   400.00 nm\n"
                               "long wavelength cut off :  1100.00 nm\n"
                               "neutral density :     1.0000\n"
                               "transmission :    10.0000 %\n"
                               "generation file :\"C:\\ZONIQ\\generation\\*.gen\"\n"
                               "attenuation :   100.0000 %\n"
                               "Secondworkpoint Temperature :   350.50 K\n"
                               "Secondworkpoint Voltage :    -0.2500 V\n"
                               "Secondworkpoint Number of points :  10\n"
                               "Secondworkpoint dark :  1\n"
                               "Secondworkpoint generation from file :  0\n"
                               "Secondworkpoint spectrum file :\"lamp.spe\"\n"
                               "Secondworkpoint spectrum cut off :  0\n"
                               "Secondworkpoint short wavelength cut off :     0.00 nm\n"
                               "Secondworkpoint long wavelength cut off :  2000.00 nm\n"
                               "Secondworkpoint neutral density :     0.0000\n"
                               "Secondworkpoint transmission :   100.0000 %\n"
                               "Secondworkpoint generation file :\"g.gen\"\n"
                               "Secondworkpoint attenuation :    12.5000 %\n"
                               "pause :  0\n"
                               "IV_startV :    -0.2000 V\n"
                               "IV_stopV :     0.8000 V\n"
                               "IV_points :  41\n"
                               "IV_increment :     0.025000 V\n"
                               "IV_calculate :  1\n"
                               "stop after Voc :  1\n"
                               "CV_startV :    -1.0000 V\n"
                               "CV_stopV :     0.5000 V\n"
                               "CV_points :  31\n"
                               "CV_increment :     0.050000 V\n"
                               "CV_calculate :  0\n"
                               "Cf_startf :    1.000e+02 Hz\n"
                               "Cf_stopf :    1.000e+06 Hz\n"
                               "Cf_total points :  21\n"
                               "Cf_points per decade :   5\n"
                               "Cf_calculate :  1\n"
                               "QE_startlambda :   300 nm\n"
                               "QE_stoplambda :  1200 nm\n"
                               "QE_points :  91\n"
                               "QE_increment :    10 nm\n"
                               "QE_calculate :  0\n";
  EXPECT_EQ(ReadWholeFile(path), expected);
}

TEST(ActionListFile, RoundTripRestoresBothWorkingPointsAndAllSweeps) {
  Fixture f;
  ActionState written(f.home);
  FillActionState(written, f);
  ASSERT_EQ(SaveActionListToPath(f.env, "trip.act", FixedHeader(), written.wp, written.secondwp, written.actie,
                                 written.extras),
            0);

  ActionState read(f.home);
  // The resistances are not written: what the working point has must stay.
  read.wp.RsPresent = 1;
  read.wp.Rs = 3e-4;
  read.wp.RshPresent = 1;
  read.wp.Gsh = 20.0;
  read.secondwp.numberOfSteps = 9;  // not read for the second working point
  read.secondwp.frequency = 4e4;    // not written for it
  ASSERT_EQ(read.Read(f.env, "trip.act"), 0);
  EXPECT_TRUE(f.ui->popups.empty());

  // Every written item is checked by the identical rewrite below (against the exact bytes
  // above); here the items that are derived, kept or recomputed on reading.
  const WorkPoint& w = read.wp;
  EXPECT_EQ(w.spectrumName, "\\lamp.spe");
  EXPECT_EQ(w.generationName, "\\g.gen");
  EXPECT_EQ((std::vector<double>{double(w.RsPresent), w.Rs, double(w.RshPresent), w.Gsh}),
            (std::vector<double>{1, 3e-4, 1, 20.0}));
  EXPECT_EQ(read.secondwp.numberOfSteps, 9);
  EXPECT_EQ(read.secondwp.frequency, 4e4);
  EXPECT_CLOSE(read.extras.ivIncrement, 0.025, 1e-12, 0.0);      // recomputed as 1.0/40
  EXPECT_CLOSE(read.extras.cvIncrement, 0.1, 1e-12, 0.0);        // 2.5/25
  EXPECT_CLOSE(read.extras.cfPointsPerDecade, 8.0, 1e-12, 0.0);  // 16 intervals over 2 decades
  EXPECT_EQ(read.extras.qeIncrement, 50);

  // Written again (with the one item that is not read put back), the file is the same.
  read.secondwp.numberOfSteps = written.secondwp.numberOfSteps;
  ASSERT_EQ(SaveActionListToPath(f.env, "again.act", FixedHeader(), read.wp, read.secondwp, read.actie, read.extras),
            0);
  EXPECT_EQ(ReadWholeFile(f.def("again.act")), ReadWholeFile(f.def("trip.act")));
}

TEST(ActionListFile, TheNumberOfPointsWinsOverTheRoundedIncrement) {
  // Every count from 2 to 2001 over 0..1 V. The increment is written with 6 decimals, and a
  // count taken from it would differ for 500 of these 2000 counts: for 1999 points 1/1998 is
  // written as 0.000501, and round(1/0.000501) + 1 = 1997. The count must survive.
  Fixture f;
  const std::string path = f.def("n.act");
  int wrong = 0;
  for (int n = 2; n <= 2001; ++n) {
    WriteWholeFile(path, "IV_startV :     0.0000 V\nIV_stopV :     1.0000 V\nIV_points : " + intw(n, 3) +
                             "\nIV_increment : " + fix(1.0 / (n - 1), 12, 6) + " V\n");
    ActionState s(f.home);
    ASSERT_EQ(s.Read(f.env, path), 0) << n;
    if (s.actie.iv.points != n || std::fabs(s.extras.ivIncrement - 1.0 / (n - 1)) > 1e-15) ++wrong;
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_TRUE(f.ui->popups.empty());
}

TEST(ActionListFile, AnIncrementAloneSetsTheCount) {
  Fixture f;
  const std::string path = f.def("inc.act");
  // 0..1 V in 0.05 V: 21 points; 0..1 V in 0.1 mV: 10001, limited with the warning to 2001;
  // QE 400..800 nm in 20 nm: 21 points; C-f 1e1..1e4 Hz at 4 per decade: 13 points.
  WriteWholeFile(path,
                 "IV_startV : 0\nIV_stopV : 1\nIV_increment : 0.05\n"
                 "CV_startV : 0\nCV_stopV : 1\nCV_increment : 0.0001\n"
                 "QE_startlambda : 400\nQE_stoplambda : 800\nQE_increment : 20\n"
                 "Cf_startf : 1e1\nCf_stopf : 1e4\nCf_points per decade : 4\n");
  ActionState s(f.home);
  ASSERT_EQ(s.Read(f.env, path), 0);
  EXPECT_EQ(s.actie.iv.points, 21);
  EXPECT_EQ(s.actie.cv.points, 2001);
  EXPECT_CLOSE(s.extras.cvIncrement, 0.0005, 1e-12, 0.0);
  EXPECT_EQ(s.actie.qe.points, 21);
  EXPECT_EQ(s.actie.cf.points, 13);
  EXPECT_EQ(f.ui->popups.size(), 1u);  // the limit's warning (its text is checked under SweepPoints)
}

TEST(ActionListFile, ResistancesTransmissionCaseAndLineEnds) {
  Fixture f;
  const std::string path = f.def("r.act");
  // Rs in Ohm cm2 (x 1e-4 -> Ohm m2); Rsh 1000 Ohm cm2 -> Gsh 1e-3 S/cm2 = 10 S/m2; a
  // transmission of 10 % without a neutral density is OD 1; keywords in any case; CRLF.
  WriteWholeFile(path,
                 "Rs present : 1\r\nRs : 2.5\r\nRsh present : 1\r\nRsh : 1000\r\ntransmission : 10\r\n"
                 "TEMPERATURE : 250\r\n");
  ActionState s(f.home);
  ASSERT_EQ(s.Read(f.env, path), 0);
  EXPECT_EQ(s.wp.RsPresent, 1);
  EXPECT_CLOSE(s.wp.Rs, 2.5e-4, 1e-15, 0.0);
  EXPECT_EQ(s.wp.RshPresent, 1);
  EXPECT_CLOSE(s.wp.Gsh, 10.0, 1e-12, 0.0);
  EXPECT_CLOSE(s.wp.neutralDensity, 1.0, 1e-15, 0.0);
  EXPECT_EQ(s.wp.temperature, 250.0);

  // Gsh directly: 0.002 S/cm2 = 20 S/m2; an Rsh below 1e-6 Ohm cm2 is raised to it: 1e6 S/cm2.
  WriteWholeFile(path, "Gsh : 0.002\n");
  ASSERT_EQ(s.Read(f.env, path), 0);
  EXPECT_CLOSE(s.wp.Gsh, 20.0, 1e-12, 0.0);
  WriteWholeFile(path, "Rsh : 0\n");
  ASSERT_EQ(s.Read(f.env, path), 0);
  EXPECT_CLOSE(s.wp.Gsh, 1e10, 1e-12, 0.0);

  // With a neutral density in the file the transmission (rounded to 4 decimals) is not used:
  // OD 0.1234 gives 100 x 10^-0.1234 = 75.2662 %, whose OD would be 0.1234000098; a dense
  // filter (OD 9) writes 0.0000 % and must still read back.
  WriteWholeFile(path, "neutral density :     0.1234\ntransmission :    75.2662 %\n");
  ASSERT_EQ(s.Read(f.env, path), 0);
  EXPECT_EQ(s.wp.neutralDensity, 0.1234);
  WriteWholeFile(path, "neutral density :     9.0000\ntransmission :     0.0000 %\n");
  ASSERT_EQ(s.Read(f.env, path), 0);
  EXPECT_EQ(s.wp.neutralDensity, 9.0);
  EXPECT_TRUE(f.ui->popups.empty());
}

TEST(ActionListFile, CommentsAndUnknownLinesAreIgnored) {
  Fixture f;
  const std::string path = f.def("c.act");
  WriteWholeFile(path,
                 "> Temperature : 1\n< Temperature : 2\n* Temperature : 3\n! Temperature : 4\n"
                 "/ Temperature : 5\n\\ Temperature : 6\n\n   \nsomething else : 7\n"
                 "Secondworkpoint Frequency : 5e3 Hz\nSecondworkpoint Number of points : 99\n"
                 "  Voltage : 0.125 V\n");
  ActionState s(f.home);
  s.secondwp.numberOfSteps = 4;
  ASSERT_EQ(s.Read(f.env, path), 0);
  EXPECT_EQ(s.wp.temperature, 300.0);
  EXPECT_EQ(s.wp.voltage, 0.125);
  EXPECT_EQ(s.secondwp.frequency, 1e6);
  EXPECT_EQ(s.secondwp.numberOfSteps, 4);
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
  EXPECT_EQ(f.ui->popups[0].title, "Error whilst reading action file from command line");
  EXPECT_EQ(f.ui->popups[0].message, "Action file: " + path + "\nSpectrumfile not found: " + f.spectrum("gone.spe") +
                                         "\nReplaced with a standard spectrum: AM1_5G 1 sun.spe");
  EXPECT_EQ(f.ui->popups[1].title, "Error whilst reading action file from command line");
  EXPECT_EQ(f.ui->popups[1].message, "Action file: " + path +
                                         "\nGeneration file not found: " + f.generation("gone.gen") +
                                         "\nSwitched to: generation from internal calculation");
  EXPECT_EQ(s.wp.spectrumFile, f.spectrum("AM1_5G 1 sun.spe"));
  EXPECT_EQ(s.wp.spectrumName, "\\AM1_5G 1 sun.spe");
  EXPECT_EQ(s.wp.generationFromFile, 0);
  EXPECT_EQ(s.wp.temperature, 280.0);  // the rest of the file is taken

  // The placeholder generation name is no file, but it is not used when the generation is
  // computed: no message.
  f.ui->popups.clear();
  WriteWholeFile(path, "generation from file : 0\ngeneration file :\"*.gen\"\n");
  ASSERT_EQ(s.Read(f.env, path), 0);
  EXPECT_TRUE(f.ui->popups.empty());
  EXPECT_EQ(s.wp.generationFile, f.generation("*.gen"));
}

// ---------------------------------------------------------------- hostile action-list files

TEST(ActionListFile, RejectedFilesChangeNothing) {
  Fixture f;
  ActionState s(f.home);
  FillActionState(s, f);
  s.wp.RsPresent = 1;
  s.wp.Rs = 1e-4;
  const std::string before = s.Text();
  const std::string path = f.def("bad.act");

  struct Case {
    const char* name;
    std::string content;
    const char* problem;  // part of the message
  };
  const std::string longLine = "Temperature : 300" + std::string(100000, '0') + "\n";
  const Case cases[] = {
      {"binary", std::string("\x00\x01\xff\xfe\n\x7f\x80", 8), "holds no action-list settings"},
      {"nan", "Voltage : 0.1\nTemperature : nan\n", "line 2: the value of \"Temperature\" is not a number"},
      {"overflow", "Voltage : 1e999\n", "line 1: the value of \"Voltage\""},
      // Values below the last decimal the file writes would be saved as 0 and could not be read
      // back: 0.003 K with two decimals, 0.00001 % with four.
      {"temperature below the file's resolution", "Temperature : .003\n", "of at least 0.01"},
      {"attenuation below the file's resolution", "attenuation : 0.00001\n", "of at least 0.0001"},
      {"negative points", "IV_points : -3\n", "should be a number of points"},
      {"fractional points", "IV_points : 4.5\n", "should be a whole number"},
      {"flag 2", "dark : 2\n", "should be 0 or 1"},
      {"zero frequency", "Cf_startf : 0\n", "\"Cf_startf\" should be a positive frequency"},
      {"one bias step", "Number of points : 1\n", "between 2 and 2001"},
      {"zero wavelength", "QE_startlambda : 0\n", "should be a wavelength above 0 nm"},
      {"negative density", "neutral density : -1\n", "should be an optical density"},
      {"zero transmission", "transmission : 0\n", "should be above 0 %"},
      {"huge line", longLine, "line 1 is longer than 1023 characters"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteWholeFile(path, c.content);
    f.ui->popups.clear();
    EXPECT_EQ(s.Read(f.env, path), -2);
    EXPECT_EQ(s.Text(), before);
    ASSERT_EQ(f.ui->popups.size(), 1u);
    EXPECT_EQ(f.ui->popups[0].title, "Error whilst reading the action file");
    EXPECT_EQ(f.ui->popups[0].message.rfind("Action file: " + path + "\n", 0), 0u) << f.ui->popups[0].message;
    EXPECT_NE(f.ui->popups[0].message.find(c.problem), std::string::npos) << f.ui->popups[0].message;
  }

  // A folder is no file (a missing file's message is checked with the whole program).
  EXPECT_EQ(s.Read(f.env, f.home + "/def"), -1);
  EXPECT_EQ(s.Text(), before);

  // A huge line without a keyword is only skipped.
  WriteWholeFile(path, std::string(200000, 'x') + "\nVoltage : 0.25\n");
  EXPECT_EQ(s.Read(f.env, path), 0);
  EXPECT_EQ(s.wp.voltage, 0.25);
}

// ---------------------------------------------------------------- second working point

TEST(SecondWorkPointFile, HoldsTheSecondWorkingPointLinesOfAnActionListAndReadsBack) {
  Fixture f;
  ActionState s(f.home);
  FillActionState(s, f);
  ASSERT_EQ(SaveActionListToPath(f.env, "both.act", FixedHeader(), s.wp, s.secondwp, s.actie, s.extras), 0);
  ASSERT_EQ(SaveWP2ToPath(f.env, "second.wp2", FixedHeader(), s.secondwp), 0);
  // The action list's "Secondworkpoint" lines (whose layout is checked byte for byte above)
  // under the file's own title.
  std::string expected =
      "> ZONIQ 3.2.00 NORVALE: Version zoniq dated 01-02-2024, 03:04:05\n"
      "> ZONIQ Second work point settings file, saved on \t09-08-2025 at 07:06:05\n"
      "> no problem definition file loaded \n"
      "> \n";
  std::istringstream act(ReadWholeFile(f.def("both.act")));
  for (std::string line; std::getline(act, line);)
    if (line.rfind("Secondworkpoint ", 0) == 0) expected += line + "\n";
  EXPECT_EQ(ReadWholeFile(f.def("second.wp2")), expected);

  // Either file sets the second working point (not the first's 310.25 from the action list).
  for (const char* name : {"both.act", "second.wp2"}) {
    WorkPoint r;
    InitialiseWorkPoint(r, f.home);
    ASSERT_EQ(SetWP2FromFile(f.env, name, r), 0);
    EXPECT_EQ(r.temperature, 350.5);
    EXPECT_EQ(r.voltage, -0.25);
  }
  EXPECT_TRUE(f.ui->popups.empty());

  // A bad value, only first-working-point lines, no file: refused, nothing changes.
  WorkPoint r;
  InitialiseWorkPoint(r, f.home);
  const WorkPoint before = r;
  WriteWholeFile(f.def("bad.wp2"), "Secondworkpoint Voltage : 0.3\nSecondworkpoint Temperature : -4\n");
  EXPECT_EQ(SetWP2FromFile(f.env, "bad.wp2", r), -2);
  WriteWholeFile(f.def("first.wp2"), "Temperature : 280\nVoltage : 0.3\n");
  EXPECT_EQ(SetWP2FromFile(f.env, "first.wp2", r), -2);
  EXPECT_EQ(SetWP2FromFile(f.env, "none.wp2", r), -1);
  EXPECT_EQ(r.voltage, before.voltage);
  EXPECT_EQ(r.temperature, before.temperature);
}

// ---------------------------------------------------------------- general settings

TEST(GeneralSettingsFile, ExactBytesAndRoundTrip) {
  Fixture f;
  f.core->ErrorHandling(1);
  f.core->ActionList(2);
  ConvergenceParameters c;
  c.defectdiscretisations = 9;
  c.widthtail = 7.5;
  c.widthgauss = 5.25;
  GeneralSettings g;
  g.recordingMaxVoltage = 1.25;
  g.recordingMinVoltageStep = 0.0005;
  ASSERT_EQ(SaveGeneralSettingsToPath(*f.core, "general.zoniq", FixedHeader(), c, g), 0);
  const std::string levels = " (a defect band is discretised into  separate single levels)\n";
  const std::string expected =
      "> ZONIQ 3.2.00 NORVALE: Version zoniq dated 01-02-2024, 03:04:05\n"
      "> ZONIQ General ZONIQ Settings file, saved on \t09-08-2025 at 07:06:05\n"
      "> no problem definition file loaded \n"
      "> \n"
      "handling of error messages :  1 ; 0=to screen and wait for ackowledgement; 1=append to log file; 2=overwrite "
      "log file\n"
      "output list after a convergence error :  2 ; 0=truncate; 1=fill with zero's; 2=fill with white space\n"
      "maximum voltage for the recording of solar cell characteristics (V) :     1.250000\n"
      "minimum voltage increment for the recording of solar cell characteristics (V) :   0.00050000\n"
      "number of energy levels in a distribution :  9" +
      levels + "width of tail-like energy distribution (multiple of Echar) :   7.5000" + levels +
      "width of gaussian energy distribution (multiple of Echar) :   5.2500" + levels;
  EXPECT_EQ(ReadWholeFile(f.def("general.zoniq")), expected);

  // Read into a fresh session: everything comes back.
  Fixture g2;
  ConvergenceParameters c2;
  GeneralSettings gs2;
  ASSERT_EQ(SetGeneralZONIQSettingsFromFile(*g2.core, f.def("general.zoniq"), c2, gs2), 0);
  EXPECT_EQ(g2.core->errors.ErrorMessageMode, 1);
  EXPECT_EQ(g2.core->ActionListMode, 2);
  EXPECT_EQ(c2, c);
  EXPECT_EQ(gs2, g);
  EXPECT_TRUE(g2.ui->popups.empty());
}

TEST(GeneralSettingsFile, MissingAndRejectedFilesChangeNothing) {
  Fixture f;
  ConvergenceParameters c;
  GeneralSettings g;
  std::string full;
  EXPECT_EQ(SetGeneralZONIQSettingsFromFile(*f.core, "absent.zoniq", c, g, &full), -1);
  ASSERT_EQ(f.ui->popups.size(), 1u);
  EXPECT_EQ(f.ui->popups[0].title,
            "Error whilst setting the general ZONIQ settings: SetGeneralZONIQSettingsFromFile()");
  EXPECT_EQ(f.ui->popups[0].message, "General Settings File not found:\n" + f.def("absent.zoniq"));
  EXPECT_EQ(full, f.def("absent.zoniq"));

  const std::string path = f.def("bad.zoniq");
  for (const std::string& text : {std::string("handling of error messages :  3\n"),
                                  std::string("handling of error messages :  1\nnumber of energy levels in a "
                                              "distribution :  0\n"),
                                  std::string("width of gaussian energy distribution (multiple of Echar) : nan\n"),
                                  std::string("width of gaussian energy distribution 7\n"),
                                  // below the last of the decimals the file writes
                                  std::string("minimum voltage increment for the recording (V) : 1e-9\n"),
                                  std::string("width of gaussian energy distribution (multiple of Echar) : 4e-5\n"),
                                  std::string("maximum voltage for the recording (V) : 1e999\n"),
                                  std::string("\x01\x02garbage\n"), std::string()}) {
    SCOPED_TRACE(text);
    WriteWholeFile(path, text);
    f.ui->popups.clear();
    EXPECT_EQ(SetGeneralZONIQSettingsFromFile(*f.core, path, c, g), -2);
    EXPECT_EQ(f.core->errors.ErrorMessageMode, 0);
    EXPECT_EQ(f.core->ActionListMode, 0);
    EXPECT_EQ(c, ConvergenceParameters{});
    EXPECT_EQ(g, GeneralSettings{});
    ASSERT_EQ(f.ui->popups.size(), 1u);
    EXPECT_EQ(f.ui->popups[0].title,
              "Error whilst setting the general ZONIQ settings: SetGeneralZONIQSettingsFromFile()");
  }

  // A file with only some of the lines sets those.
  WriteWholeFile(path, "> handling of error messages :  2\nnumber of energy levels in a distribution : 12\n");
  EXPECT_EQ(SetGeneralZONIQSettingsFromFile(*f.core, path, c, g), 0);
  EXPECT_EQ(f.core->errors.ErrorMessageMode, 0);  // the commented line is not read
  EXPECT_EQ(c.defectdiscretisations, 12);
}

TEST(SettingsFiles, UnwritableFilesAreReported) {
  Fixture f;
  ActionState s(f.home);
  const std::string inMissingFolder = f.home + "/no such folder/x.act";
  EXPECT_EQ(SaveActionListToPath(f.env, inMissingFolder, FixedHeader(), s.wp, s.secondwp, s.actie, s.extras), -1);
  EXPECT_EQ(SaveWP2ToPath(f.env, f.home + "/no such folder/x.wp2", FixedHeader(), s.secondwp), -1);
  EXPECT_EQ(SaveGeneralSettingsToPath(*f.core, f.home + "/no such folder/x.zoniq", FixedHeader(),
                                      ConvergenceParameters{}, GeneralSettings{}),
            -1);
  ASSERT_EQ(f.ui->popups.size(), 3u);
  EXPECT_EQ(f.ui->popups[0].title, "Error whilst saving a ZONIQ settings file");
  EXPECT_EQ(f.ui->popups[0].message, "The file '" + inMissingFolder + "' cannot be opened for writing.");

  // Without a file dialog (headless) choosing a file is cancelled and nothing happens.
  EXPECT_EQ(SaveActionList(f.env, FixedHeader(), s.wp, s.secondwp, s.actie, s.extras), 1);
  EXPECT_EQ(LoadWP2Settings(f.env, s.secondwp), 1);
  EXPECT_EQ(f.ui->popups.size(), 3u);
}

// ---------------------------------------------------------------- command line

TEST(SettingsCommandLine, ActionWorkingPointAndSettingsFilesLoad) {
  Fixture f;
  ActionState s(f.home);
  FillActionState(s, f);
  ASSERT_EQ(SaveActionListToPath(f.env, "study.act", FixedHeader(), s.wp, s.secondwp, s.actie, s.extras), 0);
  WorkPoint second = s.secondwp;
  second.temperature = 333.0;
  ASSERT_EQ(SaveWP2ToPath(f.env, "metastable.wp2", FixedHeader(), second), 0);
  ConvergenceParameters c;
  c.defectdiscretisations = 11;
  f.core->ActionList(1);
  ASSERT_EQ(SaveGeneralSettingsToPath(*f.core, "general.zoniq", FixedHeader(), c, GeneralSettings{1.5, 0.002}), 0);

  auto recording = std::make_unique<RecordingUserInterface>();
  RecordingUserInterface* ui = recording.get();
  Session session(f.home, std::move(recording));
  Initialise(session);
  // Bare names are looked for in the "def" folder; the working-point file is read after the
  // action list and so sets the second working point.
  const CommandLineOutcome outcome = ProcessCommandLine(session, {"study.act", "metastable.wp2", "general.zoniq"});
  EXPECT_EQ(outcome.filesNamed, 3);
  EXPECT_TRUE(outcome.notLoaded.empty());
  EXPECT_TRUE(ui->popups.empty());
  EXPECT_EQ(session.wp.temperature, 310.25);
  EXPECT_EQ(session.secondwp.temperature, 333.0);
  EXPECT_EQ(session.ActionListMode, 1);
  EXPECT_EQ(session.parameterset1.convergence.defectdiscretisations, 11);
  EXPECT_EQ(session.recordingMaxVoltage, 1.5);
}

}  // namespace
}  // namespace zoniq
