// The batch and recorder settings files, the batch model, what the recorder takes from a solved
// state (against Gauss's law, the current balance and the definition) and its result files.
#include "batch/batch_file.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

#include "batch/recorder.hpp"
#include "celldef/definition_file.hpp"
#include "common/text.hpp"
#include "output/band_diagram.hpp"
#include "output/output_header.hpp"
#include "solver/dc_solve.hpp"
#include "solver/equations.hpp"
#include "solver/solved_cells.hpp"
#include "solver/test_cells.hpp"
#include "test_util.hpp"

namespace zoniq {
namespace {

int Code(int label, const char* keyword) { return BatchKeyWordToBP_constant(label, keyword); }
std::array<int, 4> Voltage() { return {Code(1, "V"), kNihil, kNihil, Code(4, "measurement workpoint")}; }

BatchParameter Range(double start, double stop, int n, int log = 0) {
  BatchParameter bp;
  bp.label = {Code(1, "layer 1"), Code(2, "thickness"), kNihil, kNihil};
  bp.startValue = start;
  bp.stopValue = stop;
  bp.numberOfSteps = n;
  bp.logarithmic = log;
  return bp;
}

struct Reader {
  RecordingUserInterface ui;
  ErrorReporting errors;
  Environment env{&ui, &errors, test::HomeFolder()};
  int Parse(const std::string& text, BatchSetup& out) { return ParseBatchSettings(env, text, "test.sbf", out); }
};

TEST(BatchValues, RangesListsNestingAndStepCounts) {
  // Linear: (i*stop + (n-1-i)*start)/(n-1); logarithmic: start*(stop/start)^(i/(n-1)); one
  // step or one outside the range: the start value; a list whatever flags are left over.
  const BatchParameter lin = Range(1.0, 2.0, 3), log = Range(1e15, 1e17, 3, 1);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(GetParaValue(lin, i), 1.0 + 0.5 * i) << i;
    EXPECT_CLOSE(GetParaValue(log, i), std::pow(10.0, 15 + i), 1e-14, 0) << i;
  }
  EXPECT_EQ(GetParaValue(Range(-0.3, 0.7, 1), 0), -0.3);
  EXPECT_EQ(GetParaValue(lin, 3), 1.0);
  BatchParameter list = Range(0.0, 0.0, 3, 1);
  list.valuesFromList = 1;
  list.valueList = {-0.25, 0.5, 3.0};
  EXPECT_EQ(GetParaValue(list, 0), -0.25);
  EXPECT_EQ(GetParaValue(list, 2), 3.0);

  BatchSetup b;
  b.numberOfParameters = 2;
  b.bp[0] = Range(1, 3, 3);
  b.bp[1] = Range(1, 4, 4);
  long long steps = 0;
  std::string why;
  ASSERT_TRUE(CountBatchSteps(b, steps, why));
  EXPECT_EQ(steps, 12);
  const auto at = [&b](long long k) {
    const BatchStepPosition p = StepPosition(b, k);
    return std::array{p.definitionFile, p.step[0], p.step[1]};
  };
  EXPECT_EQ(at(6), (std::array{-1, 1, 2}));  // the first parameter outermost, then the second
  b.variationOfDefinitionFiles = 1;
  b.definitionFiles = {"a.def", "b.def"};
  ASSERT_TRUE(CountBatchSteps(b, steps, why));
  EXPECT_EQ(steps, 24);
  EXPECT_EQ(at(13), (std::array{1, 0, 1}));  // definition files around both
  // Refused: stepping together with unequal counts (4 beside 3), and no step.
  b.variationOfDefinitionFiles = 0;
  b.bp[1].simultaneous = 1;
  EXPECT_FALSE(CountBatchSteps(b, steps, why));
  b.bp[1].simultaneous = 0;
  b.bp[1].numberOfSteps = 0;
  EXPECT_FALSE(CountBatchSteps(b, steps, why));
  // Stepping together: 3 steps, both at the same index.
  b.bp[1] = Range(1, 4, 3);
  b.bp[1].simultaneous = 1;
  ASSERT_TRUE(CountBatchSteps(b, steps, why));
  EXPECT_EQ(steps, 3);
  EXPECT_EQ(StepPosition(b, 2).step[1], 2);
  // Three ranges of 9999 steps: 1e12 steps would overflow 32 bits; refused by the limit.
  b.numberOfParameters = 3;
  for (std::size_t i = 0; i < 3; ++i) b.bp[i] = Range(1, 2, 9999);
  EXPECT_FALSE(CountBatchSteps(b, steps, why));
  EXPECT_NE(why.find("1000000"), std::string::npos);
}

TEST(SettingsFiles, ExactLayoutsAndRoundTrips) {
  BatchSetup b;
  b.numberOfParameters = 1;
  b.bp[0] = Range(-0.5, 0.25, 4);
  b.bp[0].label = Voltage();
  // Written by hand from the layout: Int 1, Int 2, sci 16.8, Int 4.
  EXPECT_EQ(BatchSettingsText(b),
            "\nBatch parameter 0 :\n\nLabel 1 : V\nLabel 2 : nihil\nLabel 3 : nihil\nLabel 4 : measurement workpoint\n"
            "simultaneous :  0\nvalues from a list :  0\n"
            "startvalue :  -5.00000000e-01\nstopvalue :   2.50000000e-01\n"
            "number of steps :    4\nlogarithmic variation :  0\n");
  // "Rsh" is not "Rs", "composition file" not "composition"; an unknown keyword has no code.
  EXPECT_NE(Code(1, "Rsh"), Code(1, "Rs"));
  EXPECT_NE(Code(2, "composition file"), Code(2, "composition"));
  EXPECT_EQ(Code(2, "no such thing"), -2);
  b.numberOfParameters = 6;
  b.bp[4].label = {Code(1, "Rsh"), kNihil, kNihil, Code(4, "measurement workpoint")};
  b.bp[5].label = {Code(1, "layer 1"), Code(2, "composition file"), kNihil, kNihil};
  b.bp[0] = Range(-0.3, -0.3, 1);
  b.bp[0].label = Voltage();
  b.bp[1] = Range(1e15, 1e17, 3, 1);
  b.bp[1].label = {Code(1, "layer 2"), Code(2, "defect 1"), Code(3, "sigma_p\t"), Code(4, "level 2 of defect")};
  BatchParameter& t = b.bp[2];
  t.label = {Code(1, "T"), kNihil, kNihil, Code(4, "measurement workpoint")};
  t.simultaneous = t.valuesFromList = t.listSaved = 1;
  t.filePath = "C:\\data";
  t.fileName = "temps.bdf";
  t.valueList = {-2.5e-1, 300.0, 3.25e2};
  t.numberOfSteps = 3;
  BatchParameter& s = b.bp[3];
  s.label = {Code(1, "illumination"), Code(2, "spectrum file"), kNihil, Code(4, "measurement workpoint")};
  s.valuesFromList = s.valuesAreFileNames = 1;
  s.fileNameList = {"AM1_5G 1 sun.spe", "red light.spe"};
  s.numberOfSteps = 2;
  b.variationOfDefinitionFiles = 1;
  b.definitionFiles = {"CIGS.def", "/data/cells/CdTe: thin.def"};  // a folder is kept
  Reader r;
  BatchSetup back;
  ASSERT_EQ(r.Parse(BatchSettingsText(b), back), 0);
  EXPECT_TRUE(r.ui.popups.empty());
  EXPECT_EQ(back.numberOfParameters, 6);
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(back.bp[i], b.bp[i]) << i;
  EXPECT_EQ(back.definitionFiles, b.definitionFiles);
  EXPECT_EQ(BatchSettingsText(back), BatchSettingsText(b));

  // The recorder settings file likewise.
  RecorderSetup rec;
  rec.parameters = {{REC_CELL_CHARACTERISTICS, REC_VOC}, {REC_ENERGY_BANDS, 4, kRecLastLayer}};
  // Written by hand: "Recorder parameter " Int 3 " :", keywords for type, property, last layer.
  EXPECT_EQ(RecordSettingsText(rec),
            "\nRecorder parameter   0 :\n\nrecorder type : cell characterisctics\n"
            "recorder property : open circuit voltage\n"
            "\nRecorder parameter   1 :\n\nrecorder type : energy bands\n"
            "recorder property : electron density\nrecorder layer : last layer\n");
  rec.parameters = {{REC_CELL_CHARACTERISTICS, REC_JMPP},
                    {REC_GENERAL, REC_GENERAL_RECOMBINATION_AUGER},
                    {REC_ENERGY_BANDS, 19, kRecAllLayers},
                    {REC_ENERGY_BANDS, 0, 3},
                    {REC_GENERATION_RECOMBINATION, 7, 2, 1, 2},
                    {REC_OCCUPATION, 1, 1, 3, 4},
                    {REC_AC, 2, kRecImaginaryPart},
                    {REC_INTERFACES, 11, 2, 1, kRecNotApplicable},
                    {REC_CELL_DEFINITION, 15, 1, 2, kRecNotApplicable}};
  RecorderSetup recBack;
  ASSERT_EQ(SetRecordFromText(r.env, RecordSettingsText(rec), "t.srf", recBack), 0);
  EXPECT_EQ(recBack.parameters, rec.parameters);
  EXPECT_TRUE(r.ui.popups.empty());
}

TEST(SettingsFiles, MendedFaultsOfALiteralReaderAndHostileInput) {
  Reader r;
  BatchSetup b;
  // A minus sign after the key; a list value after its index; "filepath" is not a file entry;
  // CR LF; a file entry before any parameter and a tenth parameter are reported and ignored.
  const std::string text =
      "DO NOT EDIT THIS FILE: THIS IS A ZONIQ SYSTEM FILE\r\nfile   0:stray.spe\r\nBatch parameter 0 :\r\n"
      "Label 1 : V\r\nLabel 4 : measurement workpoint\r\nstartvalue :  -5.00000000e-01\r\n"
      "stopvalue :  -5.00000000e-01\r\nnumber of steps :    1\r\nBatch parameter 1 :\r\n"
      "Label 1 : layer 1\r\nLabel 2 : thickness\r\nvalues from a list :  1\r\nnumber of parameters :    3\r\n"
      "filepath : C:\\lists\r\nfilename : d.bdf\r\nparameter   0:   1.00000000e+00\r\n"
      "parameter   1:   2.00000000e+00\r\nparameter   2:  -2.50000000e-01\r\n"
      "Batch parameter 9 :\r\nLabel 1 : T\r\nstartvalue : 1\r\n";
  ASSERT_EQ(r.Parse(text, b), 0);
  EXPECT_EQ(b.numberOfParameters, 2);
  EXPECT_EQ(b.bp[0].startValue, -0.5);
  EXPECT_EQ(b.bp[0].label[0], Code(1, "V"));
  EXPECT_EQ(b.bp[1].valueList, (std::vector<double>{1.0, 2.0, -0.25}));
  EXPECT_EQ(b.bp[1].numberOfSteps, 3);
  EXPECT_TRUE(b.bp[1].fileNameList.empty());
  EXPECT_EQ(b.bp[1].filePath + " " + b.bp[1].fileName, "C:\\lists d.bdf");
  ASSERT_EQ(r.ui.popups.size(), 2u);
  EXPECT_NE(r.ui.popups[0].message.find("before any"), std::string::npos);
  EXPECT_NE(r.ui.popups[1].message.find("Batch parameter 9 does not exist"), std::string::npos);

  const char* bad[] = {
      "Batch parameter 0 :\nstartvalue : 1.5abc\n",    // stray text after a number
      "Batch parameter 0 :\nstartvalue : nan\n",       // not a number
      "Batch parameter 0 :\nnumber of steps : 0\n",    // no step
      "Batch parameter 0 :\nnumber of steps : 2.5\n",  // not whole
      "Batch parameter 0 :\nparameter   1:  1.0\n",    // index 0 expected
      "Batch parameter 0 :\nLabel 1 : kitchen\n",      // no such label
      "Batch parameter 1 :\n",                         // parameter 0 missing
      "Batch parameter 0 :\nnumber of parameters : 2\nvalues from a list : 1\nparameter   0: 1\n",  // 1 of 2
  };
  for (const char* text : bad) {
    Reader r;
    BatchSetup b;
    b.numberOfParameters = 7;  // untouched on failure
    EXPECT_EQ(r.Parse(text, b), -1) << text;
    EXPECT_EQ(b.numberOfParameters, 7);
    ASSERT_FALSE(r.ui.popups.empty()) << text;
    EXPECT_NE(r.ui.popups.back().message.find("(line "), std::string::npos) << r.ui.popups.back().message;
  }

  // The recorder: a group expands to its members; refused (the list kept) are a layer beyond the
  // seventh, an unknown property, stray text, an entry outside a parameter, over 120 entries.
  RecorderSetup rec;
  ASSERT_EQ(SetRecordFromText(r.env,
                              "Recorder parameter 0 :\nrecorder type : cell characterisctics\n"
                              "recorder property : all cell characteristics\r\n",
                              "t.srf", rec),
            0);
  ASSERT_EQ(rec.parameters.size(), 6u);
  EXPECT_EQ(rec.parameters[0].property, REC_EFFICIENCY);
  EXPECT_EQ(rec.parameters[5].property, REC_JMPP);
  std::string many;
  for (int i = 0; i < 121; ++i)
    many += "Recorder parameter\nrecorder type : general\nrecorder property : general current\n";
  const std::string badRecorder[] = {
      "Recorder parameter\nrecorder type : energy bands\nrecorder property : hole density\nrecorder layer : 8\n",
      "Recorder parameter\nrecorder type : general\nrecorder property : general weather\n",
      "Recorder parameter\nrecorder type : occupation\nrecorder property : occupation probability with holes\n"
      "recorder defect : 2x\n",
      "recorder type : general\n", many};
  for (const std::string& text : badRecorder) {
    EXPECT_EQ(SetRecordFromText(r.env, text, "t.srf", rec), -1) << text.substr(0, 80);
    EXPECT_EQ(rec.parameters.size(), 6u);
  }
}

TEST(BatchFile, LoadingChecksTheParametersAgainstTheCellAndReadsListFiles) {
  Reader r;
  test::TempDir dir;
  BatchSetup b;
  b.numberOfParameters = 2;
  b.bp[0] = Range(1, 2, 2);
  b.bp[0].label[0] = Code(1, "layer 5");  // the default cell has no layers
  b.bp[1] = Range(0.1, 0.5, 3);
  b.bp[1].label = Voltage();
  test::WriteWholeFile(dir.file("b.sbf"), BatchSettingsText(b));
  CellState cell;
  BatchSetup loaded;
  ASSERT_EQ(SetBatchFromFile(r.env, dir.file("b.sbf"), cell.zonnecel, loaded), 0);
  EXPECT_EQ((std::tuple{loaded.numberOfParameters, loaded.bp[0].label[0], loaded.numberOfSteps}),
            (std::tuple{1, Code(1, "V"), 3}));
  ASSERT_EQ(r.ui.popups.size(), 1u);
  EXPECT_NE(r.ui.popups[0].message.find("Batch parameter 0 not available"), std::string::npos);
  // A missing file leaves the batch as it was.
  EXPECT_EQ(SetBatchFromFile(r.env, dir.file("none.sbf"), cell.zonnecel, loaded), -1);
  EXPECT_EQ(loaded.numberOfParameters, 1);

  // Value lists: a heading and blank lines skipped, text after a value refused, a long list cut.
  test::WriteWholeFile(dir.file("v.bdf"), "values of the batch\n-1.5\n2e3\n\n0.25\n");
  std::vector<double> v;
  EXPECT_EQ(ReadBDFValues(r.env, dir.file("v.bdf"), v), 3);
  EXPECT_EQ(v, (std::vector<double>{-1.5, 2000.0, 0.25}));
  test::WriteWholeFile(dir.file("bad.bdf"), "1.0\n2.0 volts\n");
  EXPECT_EQ(ReadBDFValues(r.env, dir.file("bad.bdf"), v), -1);
  std::string many;
  for (int i = 0; i < kMaxBatchListEntries + 5; ++i) many += std::to_string(i) + "\n";
  test::WriteWholeFile(dir.file("many.bdf"), many);
  r.ui.popups.clear();
  EXPECT_EQ(ReadBDFValues(r.env, dir.file("many.bdf"), v), kMaxBatchListEntries);
  EXPECT_EQ(r.ui.popups.size(), 1u);
  test::WriteWholeFile(dir.file("f.bdf"), "list\nfile: a.def\nfile:  b c.def \n");
  std::vector<std::string> names;
  EXPECT_EQ(ReadBDFFileNames(r.env, dir.file("f.bdf"), "t", names), 2);
  EXPECT_EQ(names[1], "b c.def");
}

TEST(RecorderFiles, ScalarAndProfileFiles) {
  // Efficiency, general current and an electron-density profile over two steps of a thickness
  // range, on meshes of 3 and 2 points; the second step's first density could not be found.
  const double nan = std::nan("");
  RecorderSetup r;
  r.parameters = {
      {REC_CELL_CHARACTERISTICS, REC_EFFICIENCY}, {REC_GENERAL, REC_GENERAL_CURRENT}, {REC_ENERGY_BANDS, 4}};
  BatchParameter& bp = r.batchCopy.bp[0];
  bp.label = {BatchKeyWordToBP_constant(1, "layer 1"), BatchKeyWordToBP_constant(2, "thickness"), kNihil, kNihil};
  bp.startValue = 0.5;
  bp.stopValue = 2.5;
  r.batchCopy.numberOfParameters = 1;
  r.ivStep = 0.1;
  r.steps.resize(2);
  RecordedStep &a = r.steps[0], &b = r.steps[1];
  a.batchValues = {" 5.00000e-01"};
  a.batchNumbers = {0.5};
  a.values = {12.5, -30.25, nan};
  a.profiles.x = {0.0, 0.5, 1.0};
  a.profiles.values = {{}, {}, {1e16, 2e16, 3e16}};
  b.step = 1;
  b.batchValues = {" 2.50000e+00"};
  b.batchNumbers = {2.5};
  b.values = {-1.0, -31.0, nan};
  b.profiles.x = {0.0, 2.0};
  b.profiles.values = {{}, {}, {nan, 5e15}};
  // The I-V kind after the step of the sweep; the profiles after the mesh of each step.
  const std::string batch =
      "*** Overview of batch settings ***\n\n"
      "batch parameter 1:\tlayer 1>>thickness>>nihil>>nihil:\tfrom\t 5.000e-01\tto\t 2.500e+00\tLinear\n"
      "\n\n*** The recorded data ***\n\n";
  const std::string eff = "Cell characteristics: efficiency (%)", cur = "General properties: general current (mA/cm2)";
  const std::string iv = RecorderResultText(r, "v", kRecordIV), eb = RecorderProfileText(r, kRecordEnergyBands, "v");
  EXPECT_NE(iv.find(ResultTitle(kResultIV)), std::string::npos) << iv;
  EXPECT_EQ(iv.substr(std::min(iv.size(), iv.find("\nStepsize"))),
            "\nStepsize for IV-simulation:\t 1.000e-01\tV\n\n\n*** Overview of recorder settings ***\n\n" + eff + "\n" +
                cur + "\n\n\n" + batch + "i\tbp 1\t" + eff + "\t" + cur +
                "\n1\t 5.00000e-01\t 1.25000e+01\t-3.02500e+01\n2\t 2.50000e+00\t-1.00000e+00\t-3.10000e+01\n");
  EXPECT_EQ(eb.substr(std::min(eb.size(), eb.find("*** Overview of recorder"))),
            "*** Overview of recorder settings ***\n\nEnergy bands: electron density\n\n\n" + batch +
                "* The mesh: x(um) *\n\nbp 1:\t 5.000e-01\t 2.500e+00\n"
                "0\t 0.000e+00\t 0.000e+00\n1\t 5.000e-01\t 2.000e+00\n2\t 1.000e+00\t\n"
                "\n* Parameter 1:\tEnergy bands: electron density *\nbp 1:\t 5.000e-01\t 2.500e+00\n"
                "0\t 1.000e+16\t       NaN\n1\t 2.000e+16\t 5.000e+15\n2\t 3.000e+16\t\n"
                "Warning: not all the requested data could be recorded, and have been put to NaN\n\n\n\n");
  // A kind without its quantities is refused.
  RecorderSetup effOnly = r;
  effOnly.parameters.resize(1);
  for (RecordedStep& s : effOnly.steps) s.values.resize(1);
  SessionCore core{test::HomeFolder(), std::make_unique<RecordingUserInterface>()};
  test::TempDir dir;
  FilePtr f = OpenFile(dir.file("r.ifr"), "wb");
  ASSERT_TRUE(f);
  EXPECT_EQ(record_naar_file(core.env(), f.get(), effOnly, "v", kRecordInterface), -1);
  EXPECT_EQ(record_naar_file(core.env(), f.get(), effOnly, "v", kRecordGeneral), -1);
  EXPECT_EQ(record_naar_file(core.env(), f.get(), effOnly, "v", kRecordIV), 0);
}

// The pn junction with unequal materials on the two sides (mobilities, thermal velocities,
// radiative and Auger coefficients), a defect in the base referenced to EC, and a donor-like
// Gaussian band of interface states, solved in the dark at 0.4 V.
std::unique_ptr<DcProblem> Solved() {
  InputParameters set = test::PnJunction();
  CellDefinition& c = set.cellParas;
  c.layer[1].mu_n = UniformProfile(0.02, c.layer[1].mu_n.dependence);
  c.layer[1].mu_p = UniformProfile(0.005, c.layer[1].mu_p.dependence);
  c.layer[0].v_th_p = UniformProfile(2e5, c.layer[0].v_th_p.dependence);
  c.layer[0].K_rad = UniformProfile(1e-16, c.layer[0].K_rad.dependence);
  c.layer[1].c_n_auger = UniformProfile(3e-42, c.layer[1].c_n_auger.dependence);
  c.layer[1].c_p_auger = UniformProfile(7e-43, c.layer[1].c_p_auger.dependence);
  test::AddSingleLevelDefect(set, 0, 0.3, 1e19, 1e-19);
  c.layer[0].srh[0][0].reference = 2;  // 0.3 eV below EC
  test::AddInterfaceDefect(set, 0, DT_DONOR, 0.2, 5, 4e15, {2e-19, 1e-19, 5e-19, 3e-20}, ED_GAUSS, 0.1);
  set.convergence.defectdiscretisations = 5;
  return test::SolvedInTheDark(set, 0.4, 5);
}

class RecorderSolved : public ::testing::Test {
 protected:
  RecorderSolved() { BandDiagramFromSolution(cv, 1, b); }
  std::unique_ptr<DcProblem> pb = Solved();
  CalculationVariables& cv = pb->cv;
  BandDiagramProfiles b;
};

TEST_F(RecorderSolved, InterfaceQuantitiesGiveTheChargeAndTheCurrentBalances) {
  // Properties 0 … 9 (currents jn1 … jp2t, jth, charge), 10 and 11 (occupations of a defect) of
  // interface 1; its defect 2 and interface 2 do not exist.
  RecorderSetup r;
  for (int p = 0; p < 10; ++p) r.parameters.push_back({REC_INTERFACES, p, 1});
  r.parameters.insert(
      r.parameters.end(),
      {{REC_INTERFACES, 10, 1, 1}, {REC_INTERFACES, 11, 1, 1}, {REC_INTERFACES, 10, 1, 2}, {REC_INTERFACES, 0, 2}});
  const std::vector<double> v = RecordStepValues(r, nullptr, &b);
  ASSERT_EQ(v.size(), 14u);
  const InterfaceProfileRow& row = b.interfaces[0];
  EXPECT_EQ(std::vector(v.begin(), v.begin() + 10),
            (std::vector{row.jn1, row.jn2, row.jp1, row.jp2, row.jn1t, row.jn2t, row.jp1t, row.jp2t, row.jth, row.pi}));
  EXPECT_TRUE(std::isnan(v[12]));
  EXPECT_TRUE(std::isnan(v[13]));
  EXPECT_GT(v[10], 0.0);
  EXPECT_LT(v[10], 1.0);
  EXPECT_NEAR(v[10] + v[11], 1.0, 1e-12);
  // A donor-like band is charged when empty: σ = q·ΣNt_k·⟨1 − f⟩, with ΣNt_k its total density.
  double Nt = 0.0;
  for (const InterfaceLevelRecord& k : cv.ifrec.iface[0][0].records) Nt += k.Nt;
  ASSERT_GT(cv.ifr.sigma[0], 0.0);
  EXPECT_CLOSE(v[11], cv.ifr.sigma[0] / (kQ * Nt), 1e-9, 0.0);
  // The thermionic current is recorded from the left point; what crosses must also be what the
  // right point passes on to its layer plus what it captures there (electrons carry −q, holes +q).
  const auto f = static_cast<std::size_t>(cv.mesh.first[1]);
  const double right = (b.jn[f] + b.jnTunnel[f] - row.jn2) + (b.jp[f] + b.jpTunnel[f] + row.jp2);
  ASSERT_GT(row.js, 0.0);
  EXPECT_CLOSE(v[8], right, 1e-9, 0.0);
}

TEST_F(RecorderSolved, CellPropertiesAreThoseOfTheDefinition) {
  const std::vector<RecorderParameter> ps = {
      {REC_CELL_DEFINITION, 6},  {REC_CELL_DEFINITION, 7},           {REC_CELL_DEFINITION, 8},
      {REC_CELL_DEFINITION, 9},  {REC_CELL_DEFINITION, 18},          {REC_CELL_DEFINITION, 19},
      {REC_CELL_DEFINITION, 20}, {REC_CELL_DEFINITION, 16, 1, 1, 1}, {REC_CELL_DEFINITION, 17, 1, 1, 1}};
  const StepProfiles s = RecordStepProfiles(ps, cv, b, nullptr);
  // Per layer (base, emitter), in the units of the definition panels: vth cm/s, μ cm²/Vs,
  // Krad cm³/s, Auger cm⁶/s; the defect 0.3 eV below EC of Eg = 1.12 eV lies 0.82 eV above EV
  // and 0.3 eV below the nearer band; 0 outside its layer.
  const double expected[2][9] = {{1e7, 2e7, 100.0, 100.0, 1e-10, 0.0, 0.0, 0.82, 0.3},
                                 {1e7, 1e7, 200.0, 50.0, 0.0, 3e-30, 7e-31, 0.0, 0.0}};
  for (int layer = 0; layer < 2; ++layer)
    for (int i : {cv.mesh.first[layer] + 1, cv.mesh.last[layer] - 1})
      for (std::size_t k = 0; k < ps.size(); ++k)
        EXPECT_CLOSE(s.values[k][static_cast<std::size_t>(i)], expected[layer][k], 1e-12, 0.0)
            << "layer " << layer << ", point " << i << ", " << MakeRecordText(ps[k]);
}

}  // namespace
}  // namespace zoniq
