// The common header and the batch block of the result files, against texts written out by hand
// from their layout, and the file dates they show. (The single-shot header under the standard
// spectrum is compared byte for byte with the whole I-V file.)
#include <gtest/gtest.h>
#include <utime.h>

#include <ctime>
#include <vector>

#include "output/output_header.hpp"
#include "output_fixture.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

TEST(OutputHeader, DarkBatchStepWithBatchBlock) {
  test::OutputEnvironment o;
  SimulationRecord r;
  r.number = 12;
  r.startTime = "01-01-2024 00:00:01";
  r.wp.problemName = "new problem";
  r.wp.dark = 1;
  r.wp.temperature = 250.5;
  r.wp.voltage = -0.25;
  r.wp.frequency = 12345.678;
  r.batch.numberOfParameters = 2;
  r.batch.step = 3;
  r.batch.numberOfSteps = 7;
  r.batch.lines = {"layer 1\tthickness\t2.0000", "layer 2\tNA\t1.0000e+16"};
  std::string t;
  WriteOutputHeader(t, r, kResultBandDiagram, true, o.context.header);
  EXPECT_EQ(t,
            "ZONIQ 3.2.0 (test)\nSimulation of band diagrammes\nBatch simulation #\t12\tstep\t3\tof\t7\n"
            "Calculation started : \t01-01-2024 00:00:01\n\nproblem definition file :\tnew problem\n"
            "last saved: \t07-02-2023 at 09:05:03\n\nCalculation in dark\n\nWorking point conditions\n"
            "Temperature\t  250.50\tK\nWorkpoint bias voltage\t   -0.2500\tVolt\nFrequency\t  1.2346e+04\tHz\n\n"
            "**Batch parameters**\nlayer 1\tthickness\t2.0000\nlayer 2\tNA\t1.0000e+16\n\n");
}

TEST(OutputHeader, GenerationFileAndCutOffWindowBlocks) {
  test::OutputEnvironment o;
  SimulationRecord r = test::IlluminatedRecord();
  r.wp.generationFromFile = 1;
  r.wp.generationFile = "G:\\gen\\profile.gen";
  r.wp.attenuation = 50.0;
  r.wp.idealGenerationCurrent = 30.0;
  // The G(x) file's date is written without padding of day, month, year and hour.
  o.context.header.fileDate = [](std::string_view name, DateTime& t) {
    t = name == "G:\\gen\\profile.gen" ? DateTime{5, 3, 2024, 9, 5, 7} : DateTime{7, 2, 2023, 9, 5, 3};
    return true;
  };
  std::string t;
  WriteOutputHeader(t, r, kResultGenerationRecombination, true, o.context.header);
  // 30 mA/cm2 at 50 % transmission: 15 mA/cm2 after attenuation.
  EXPECT_NE(t.find("Simulation of generation - recombination profiles\n"), std::string::npos);
  EXPECT_NE(t.find("Calculation under illumination\nOptical generation data G(x) read from file:\n"
                   "Input file with G(x) data :\t\nG:\\gen\\profile.gen  last saved: \t5-3-2024 at 9:05:07\n"
                   "Transmission of attenuation filter:\t  5.0000e+01\t%\n"
                   "Ideal light current from optical generation\t   30.0000\tmA/cm2\n"
                   "Ideal light current after attenuation\t   15.0000\tmA/cm2\n\nWorking point conditions\n"),
            std::string::npos)
      << t;

  r = test::IlluminatedRecord();
  r.wp.illuminatedFromRight = 0;
  r.wp.spectrumCutOff = 1;
  r.wp.shortWavelengthCutOff = 400.0;
  r.wp.longWavelengthCutOff = 1100.126;
  r.wp.neutralDensity = 1.0;
  r.wp.windowPower = 800.0;
  r.wp.incidentPower = 80.0;
  t.clear();
  WriteOutputHeader(t, r, kResultIV, false, o.context.header);
  // ND = 1: transmission 10^-1; the powers in W/m2 times 0.1 give mW/cm2.
  EXPECT_NE(t.find("Illumination from the left\nspectrum file :\t\n"
                   "C:\\zoniq\\spectrum\\AM1_5G 1 sun.spe  last saved: \t07-02-2023 at 09:05:03\n"
                   "Spectrum cut-off applied\t\nshort wavelength cut-off\t  400.00\tnm\n"
                   "long  wavelength cut-off\t 1100.13\tnm\nNeutral density filter: ND\t  1.0000\n"
                   "Transmission of ND filter:\t  1.0000e-01\nPower from spectrum:\t  100.0370\tmW/cm2\n"
                   "Power after cut-off filters\t   80.0000\tmW/cm2\n"
                   "Incident power on solar cell structure\t    8.0000\tmW/cm2\n"),
            std::string::npos)
      << t;
}

TEST(OutputHeader, RunLinesInTheirOrderOfPrecedence) {
  test::OutputEnvironment o;
  auto runLine = [&](const SimulationRecord& r) {
    std::string t;
    WriteOutputHeader(t, r, kResultCurveFitting, false, o.context.header);
    const std::size_t a = t.find('\n', t.find('\n') + 1);  // the run line is the third line
    return t.substr(a + 1, t.find('\n', a + 1) - a - 1);
  };
  SimulationRecord r;
  r.number = 4;
  EXPECT_EQ(runLine(r), "Single shot simulation #\t4");
  r.fit.numberOfParameters = 2;
  r.fit.iteration = 0;
  r.fit.numberOfIterations = 50;
  EXPECT_EQ(runLine(r), "Curve fitting simulation #\t4\tstep\t1\tof\t50");  // iterations counted from 0
  r.batch.definitionFileBatch = 1;
  r.batch.step = 2;
  r.batch.numberOfSteps = 5;
  EXPECT_EQ(runLine(r), "Batch simulation #\t4\tstep\t2\tof\t5");
  r.batchRecording = 1;
  EXPECT_EQ(runLine(r), "Results of a batch recording");
}

TEST(BatchInfo, BatchOverDefinitionFilesAndCurveFitting) {
  SimulationRecord defs, fit, fixed, longLine;
  defs.batch.definitionFileBatch = 1;
  defs.batch.definitionFile = "cdte.def";
  fit.fit.numberOfParameters = 1;
  fit.fit.lines = {"layer 1\tNA\t2.0e+16"};
  fit.fit.closingLine = "end of parameters";
  fixed = fit;
  fixed.fit.fixedParameterSet = 1;
  fixed.fit.fixedParameterLine = "T\t310";
  longLine.batch.numberOfParameters = 1;
  longLine.batch.lines = {std::string(400, 'x')};
  const std::pair<SimulationRecord, std::string> cases[] = {
      {SimulationRecord{}, ""},  // a single shot has no block
      {defs, "**Batch parameters**\nDefinition file:\tcdte.def\n\n"},
      {fit, "**Curve fitting parameters**\nlayer 1\tNA\t2.0e+16\nend of parameters\n\n"},
      {fixed,
       "**Curve fitting parameters**\nlayer 1\tNA\t2.0e+16\nend of parameters\n"
       "**Fixed parameter for this measurement**\nT\t310\n\n"},
      {longLine, "**Batch parameters**\n" + std::string(255, 'x') + "\n\n"}};  // lines of at most 255
  for (const auto& [r, expected] : cases) {
    SCOPED_TRACE(expected);
    std::string t;
    WriteBatchInfo(t, r);
    EXPECT_EQ(t, expected);
  }
}

TEST(FileDates, SavedFileNewProblemAndMissingFile) {
  test::TempDir dir;
  const std::string path = dir.file("cell.def");
  test::WriteWholeFile(path, "x\n");
  // A known modification time against the local calendar time of that instant, taken through
  // the C library independently of the code under test.
  const std::time_t when = 1700000000;  // 14 November 2023, 22:13:20 UTC
  utimbuf times{when, when};
  ASSERT_EQ(utime(path.c_str(), &times), 0);
  std::tm local{};
  localtime_r(&when, &local);
  int month = 0, day = 0, year = 0, h = 0, m = 0, s = 0;
  EXPECT_EQ(GetZONIQFileDate(path, month, day, year), 0);
  EXPECT_EQ(GetZONIQFileTime(path, h, m, s), 0);
  EXPECT_EQ((std::vector<int>{day, month, year, h, m, s}),
            (std::vector<int>{local.tm_mday, local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min,
                              local.tm_sec}));
  DateTime t;
  EXPECT_TRUE(ZONIQFileDateTime("New Problem", t));  // never saved: no date to show
  // A file that does not exist has no date: all zero, and the header says so.
  EXPECT_EQ(GetZONIQFileDate(dir.file("missing.def"), month, day, year), -1);
  EXPECT_EQ(month + day + year, 0);
  SimulationRecord r;
  r.wp.problemName = dir.file("missing.def");
  HeaderContext real;
  real.version = "v";
  std::string text;
  WriteOutputHeader(text, r, kResultIV, false, real);
  EXPECT_NE(text.find("last saved: \t00-00-0000 at 00:00:00\n"), std::string::npos);
}

}  // namespace
}  // namespace zoniq
