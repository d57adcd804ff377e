// The definition file: exact bytes against files written by hand from the layout, round trips
// of a cell that uses every part of the file, the older forms the reader takes, and hostile
// input that must be rejected without touching the records already loaded.
#include "celldef/definition_file.hpp"

#include <cmath>

#include "celldef/deffile_fixture.hpp"
#include "celldef/short_cell_definition.hpp"
#include "common/text.hpp"
#include "test_util.hpp"

namespace zoniq::test {
namespace {

// ---------------------------------------------------------------------------------------------
// Writing: exact bytes
// ---------------------------------------------------------------------------------------------

TEST(DefFileWrite, TwoLayerCellMatchesHandWrittenFile) {
  MottSchottkySettings ms;
  DefinitionExtras extras;
  const InputParameters set1 = TwoLayerSet(ms, extras);
  const std::string expected = ReadWholeFile(TestData("deffile/two_layers.def"));
  EXPECT_EQ(DefinitionFileText(set1, ms, extras, kBanner, kSavedAt), expected);

  // The same from parameter set 2: the conversion to SI and back is hidden by the layouts.
  // The numerical settings come from the program's parameter set 1, the cell from set 2.
  TempDir dir;
  Recorder rec;
  CellDefinition zonnecel;
  parameterset1_to_2(zonnecel, set1);
  InputParameters target = set1;
  InitialiseCellDefinition(target.cellParas);
  const std::string out = dir.file("two.def");
  ASSERT_EQ(SaveDefinitionFileToPath(rec.env(), out, zonnecel, target, ms, extras, kBanner, kSavedAt), 0);
  EXPECT_EQ(ReadWholeFile(out), expected);
}

TEST(DefFileWrite, WarnsForFilterAndAbsorptionFilesOutsideTheirFoldersAndStillWrites) {
  TempDir dir;
  Recorder rec;
  rec.programFolder = dir.path().string();
  MottSchottkySettings ms;
  DefinitionExtras extras;
  InputParameters set1 = TwoLayerSet(ms, extras);
  set1.cellParas.layer[0].absorptionModel[0] = ABS_MODEL_FILE, set1.cellParas.layer[0].absorptionFile[0] = "cdte.abs";
  set1.cellParas.leftContact.wavelengthIndependent = 0, set1.cellParas.leftContact.filterFile = "back.ftr";
  // back.ftr is in the "filter" folder: no warning for it.
  std::filesystem::create_directories(dir.path() / "filter");
  WriteWholeFile(dir.file("filter/back.ftr"), "400 0.5\n");
  CellDefinition zonnecel;
  parameterset1_to_2(zonnecel, set1);
  InputParameters target;
  const std::string out = dir.file("warn.def");
  ASSERT_EQ(SaveDefinitionFileToPath(rec.env(), out, zonnecel, target, ms, extras, kBanner, kSavedAt), 0);

  // One warning per file outside its folder, naming it; none for back.ftr.
  ASSERT_EQ(rec.ui.popups.size(), 3u);
  const char* named[] = {"'sub/front.ftr'", "'cdte.abs'", "'cds.abs'"};
  for (int k = 0; k < 3; ++k) EXPECT_NE(rec.ui.popups[k].message.find(named[k]), std::string::npos) << k;
  // The file is complete all the same: it reads back with the absorption file named.
  const ReadResult r = ReadDefFile(out);
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.set.cellParas.layer[0].absorptionFile[0], "cdte.abs");
  EXPECT_EQ(r.set.cellParas.leftContact.filterFile, "back.ftr");
}

TEST(DefFileWrite, CountsAndEnumerationsOutOfRangeInMemoryStillGiveAReadableFile) {
  // Records changed by hand or by a script may hold counts beyond the storage or enumeration
  // values without a text; the writer keeps to what the storage holds and to known texts.
  MottSchottkySettings ms;
  DefinitionExtras extras;
  InputParameters set1 = TwoLayerSet(ms, extras);
  CellDefinition& cell = set1.cellParas;
  cell.numberOfLayers = 12, cell.layer[0].srhteller = 40, cell.layer[0].srh[0][0].numberOfLevels = 9;
  cell.layer[0].srh[0][0].type = 42, cell.layer[0].srh[0][1].aard = NDEFLEVTYPE + 3;
  cell.layer[1].srh[0][0].distribution = -5, cell.interface[0].numberOfDefects = 8;
  TempDir dir;
  const ReadResult r = ReadDefText(dir, DefinitionFileText(set1, ms, extras, kBanner, kSavedAt));
  ASSERT_EQ(r.rc, 0) << (r.messages.empty() ? "" : r.messages[0].message);
  const CellDefinition& c = r.set.cellParas;
  EXPECT_EQ((std::vector<int>{c.numberOfLayers, c.layer[0].srhteller, c.layer[0].srh[0][0].numberOfLevels,
                              c.layer[0].srh[0][0].type, c.layer[0].srh[0][1].aard, c.interface[0].numberOfDefects}),
            (std::vector<int>{MAXLAYERS, MAXBULKDEFECTS, MAXLEVELS, DT_NEUTRAL, DEFLEVTYPE_NEUTRAL, MAXIFACEDEFECTS}));
}

// ---------------------------------------------------------------------------------------------
// Reading the hand-written files
// ---------------------------------------------------------------------------------------------

TEST(DefFileRead, TwoLayerFileGivesTheCellItDescribes) {
  const ReadResult r = ReadDefFile(TestData("deffile/two_layers.def"));
  ASSERT_EQ(r.rc, 0);
  EXPECT_TRUE(r.messages.empty());
  MottSchottkySettings ms;
  DefinitionExtras extras;
  InputParameters expected = TwoLayerSet(ms, extras);
  // The file holds the filter and grading files' names without their folders.
  expected.cellParas.rightContact.filterFile = "front.ftr";
  expected.cellParas.layer[0].composition.gradingFile = "cdte.grad";
  EXPECT_TRUE(r.set == expected);
  EXPECT_EQ(r.ms, ms);
  // Comment lines lose their first character and the blank the writer puts after it.
  extras.remarks = {kBanner + "Problem definition file",
                    "last saved by ZONIQ: \t05-03-2024 at 12:07:09",
                    "",
                    "Sample cell",
                    "",
                    "   indented note"};
  EXPECT_EQ(r.extras, extras);
}

TEST(DefFileRead, OlderFormsAreRead) {
  // CRLF line ends, capitals, an old layout: one thermal velocity line, graded lines with one,
  // seven and eight numbers, one absorption model for both materials, old cross-section
  // keywords, "Ecor", "tailtype", a numeric level type and "Mott Schottky" without hyphen.
  const std::string text =
      "* An old definition file\r\nconvergence\r\nclamp_psi : 0.3\r\nTunnelMassChoice : 1\r\nMAXITER : 300\r\n"
      "  clamp_n : 0.9\r\nMott Schottky analysis epsilon of sheet # : 3\r\n"
      "Mott Schottky analysis epsilon of sheet side : 1\r\nMott Schottky analysis number of points : 5\r\n"
      "left contact\r\nSn : 2e3\r\nlayer\r\nname : old layer\r\nd=1.5e-6\r\nv_th : 2e5 [m/s]\r\n"
      "Eg :\t1.1\t1.3\t0.1\t1\t1.2\t1.25\t1\t[eV]\r\nchi :\t4.0\t4.2\t0\t1\t1\t4.0\t4.2\t1\t[eV]\r\n"
      "absorptionmodel : from file\r\nabsorptionfile : old.abs\r\nspectrumfile : am15.spe\r\nsrhrecombination\r\n"
      "type : donor\r\ntailtype : conductionband\r\nEcor : 0.1\r\nsigma_n_opt : 1e-21\r\nsigma_p_opt : 2e-21\r\n"
      "sigma_n_plus : 3e-20\r\nsigma_n_zero : 4e-20\r\nsigma_p_zero : 5e-20\r\nsigma_p_min : 6e-20\r\n"
      "SIGMA_N : 2e-19\r\nEt : 0.7\r\nnext\r\ntype : acceptor ( 1 level(s) )\r\nleveltype :3\r\nright contact\r\n"
      "Sp : 4e3\r\n";
  TempDir dir;
  const ReadResult r = ReadDefText(dir, text);
  ASSERT_EQ(r.rc, 0) << (r.messages.empty() ? "" : r.messages[0].message);
  // Keywords ignore case; a line with leading blanks matches no keyword (clamp_n keeps 0.5).
  const ConvergenceParameters& cp = r.set.convergence;
  EXPECT_EQ((std::vector<double>{cp.clamp_psi, double(cp.TunnelMassChoice), double(cp.maxiter), cp.clamp_n}),
            (std::vector<double>{0.3, 1, 300, 0.5}));
  EXPECT_EQ((std::vector<int>{r.ms.sheetNumber, r.ms.sheetSide, r.ms.numberOfPoints}), (std::vector<int>{3, 1, 5}));
  const CellDefinition& c = r.set.cellParas;
  EXPECT_EQ(std::pair(c.leftContact.Sn, c.rightContact.Sp), std::pair(2e3, 4e3));
  ASSERT_EQ(c.numberOfLayers, 1);
  const LayerParameters& L = c.layer[0];
  EXPECT_EQ(std::pair(L.name, L.d), std::pair(std::string("old layer"), 1.5e-6));
  // One number: uniform, p0 = p1 = p2 = p5 = p6, p3 = p4 = 1, law 0, dependence 2.
  EXPECT_EQ(L.v_th_n, UniformProfile(2e5, DEP_UNIFORM));
  EXPECT_EQ(L.v_th_p, UniformProfile(2e5, DEP_UNIFORM));
  // Seven numbers: p0..p3, p4 = p3, p5, p6 and the law; eight: p0..p6 and the law; dependence 0.
  EXPECT_EQ(L.Eg.p, (std::array<double, 7>{1.1, 1.3, 0.1, 1, 1, 1.2, 1.25}));
  EXPECT_EQ(L.chi.p, (std::array<double, 7>{4.0, 4.2, 0, 1, 1, 4.0, 4.2}));
  EXPECT_EQ((std::vector<int>{L.Eg.law, L.Eg.dependence, L.chi.law, L.chi.dependence}),
            (std::vector<int>{LAW_LINEAR, DEP_COMPOSITION, LAW_LINEAR, DEP_COMPOSITION}));
  EXPECT_EQ(L.absorptionModel, (std::array<int, 2>{ABS_MODEL_FILE, ABS_MODEL_FILE}));
  EXPECT_EQ(L.absorptionFile, (std::array<std::string, 2>{"old.abs", "old.abs"}));
  ASSERT_EQ(L.srhteller, 2);
  const BulkRecombinationParameters& d = L.srh[0][0];
  EXPECT_EQ((std::vector<int>{d.type, d.distribution, d.correlationFlag, L.srh[1][0].type, L.srh[1][0].aard}),
            (std::vector<int>{DT_DONOR, ED_CBTAIL, 1, DT_ACCEPTOR, 3}));
  EXPECT_EQ((std::vector<double>{d.Ecor, d.sigma_n_opt, d.sigma_p_opt, d.sigma_n_plus, d.sigma_n_zero, d.sigma_p_zero,
                                 d.sigma_p_min, d.sigma_n, d.Et}),
            (std::vector<double>{0.1, 1e-21, 2e-21, 3e-20, 4e-20, 5e-20, 6e-20, 2e-19, 0.7}));
  // A CB tail of width Ekar = 0.1 eV: peak-to-total 1/Ekar = 10 /eV.
  EXPECT_CLOSE(d.peakToTotal, 10.0, 1e-12, 0.0);
  EXPECT_EQ(r.extras.remarks, std::vector<std::string>{"An old definition file"});
}

// ---------------------------------------------------------------------------------------------
// Round trips
// ---------------------------------------------------------------------------------------------

TEST(DefFileRoundTrip, RichCellReadsBackIdentical) {
  MottSchottkySettings ms;
  DefinitionExtras extras;
  const InputParameters rich = RichSet(ms, extras);
  TempDir dir;
  const ReadResult r = ReadDefText(dir, DefinitionFileText(rich, ms, extras, kBanner, kSavedAt));
  ASSERT_EQ(r.rc, 0) << (r.messages.empty() ? "" : r.messages[0].message);
  EXPECT_TRUE(r.messages.empty());
  EXPECT_TRUE(r.set == rich);
  EXPECT_EQ(r.ms, ms);
  DefinitionExtras got = r.extras;
  got.remarks = extras.remarks;
  EXPECT_EQ(got, extras);
}

// ---------------------------------------------------------------------------------------------
// Edge cases of the reader
// ---------------------------------------------------------------------------------------------

TEST(DefFileRead, SectionsDegeneracyLineAndTextLimits) {
  TempDir dir;
  // Without a convergence section the file starts at its first section.
  ReadResult r = ReadDefText(dir, "layer\nname : only\nd : 1e-6\nfront contact\nSn : 1.5e4\n");
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.set.cellParas.numberOfLayers, 1);
  EXPECT_EQ(std::pair(r.set.cellParas.layer[0].d, r.set.cellParas.rightContact.Sn), std::pair(1e-6, 1.5e4));
  EXPECT_EQ(r.set.convergence, ConvergenceParameters{});
  // "left contact" ends the convergence section as "back contact" does.
  r = ReadDefText(dir, "convergence\nmaxiter : 9\nleft contact\nSn : 7e2\nlayer\n");
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(std::pair(r.set.convergence.maxiter, r.set.cellParas.leftContact.Sn), std::pair(9, 7e2));
  // The degeneracy line keeps the Nt line after it.
  r = ReadDefText(dir,
                  "layer\nsrhrecombination\ntype : acceptor ( 1 level(s) )\ndegeneracy factors equal one\n"
                  "Nt(x) :\t1e20\t1e20\t1e20\t1\t1\t2e20\t3e20\t1\t1\t[/m^3]\n");
  ASSERT_EQ(r.rc, 0);
  const BulkRecombinationParameters& d = r.set.cellParas.layer[0].srh[0][0];
  EXPECT_EQ(std::tuple(d.degeneracyFlag, d.Nt.dependence, d.Nt.p[6]), std::tuple(1, DEP_POSITION, 3e20));
  // Text fields are cut to their limits; a line is cut at 255 characters ("filterfile : " is 13 of
  // them) and a 100000-character line does not spill into the next.
  r = ReadDefText(dir, "layer\nname : " + std::string(60, 'n') +
                           "\ninterface properties\ninterfacename : " + std::string(60, 'n') +
                           "\nfront contact\noptical filter : transmission\nfilterfile : " + std::string(300, 'f') +
                           "\nlayer\nname : " + std::string(100000, 'x') + "\nd : 4e-6\n");
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.set.cellParas.layer[0].name, std::string(39, 'n'));
  EXPECT_EQ(r.set.cellParas.interface[0].interfacename, std::string(19, 'n'));
  EXPECT_EQ(r.set.cellParas.rightContact.filterFile, std::string(255 - 13, 'f'));
  EXPECT_EQ(std::pair(r.set.cellParas.layer[1].name, r.set.cellParas.layer[1].d),
            std::pair(std::string(39, 'x'), 4e-6));
}

// Settings that are written only when they differ from the defaults, so that files of the
// default keep the layout: the coupled Newton retry and the acceptance tolerances.
TEST(DefFileRoundTrip, SettingsOffTheirDefaultsAreWrittenAndReadBack) {
  TempDir dir;
  MottSchottkySettings ms;
  DefinitionExtras extras;
  InputParameters set1 = TwoLayerSet(ms, extras);
  const std::string plain = DefinitionFileText(set1, ms, extras, kBanner, kSavedAt);
  EXPECT_EQ(plain.find("coupled Newton"), std::string::npos);
  EXPECT_EQ(plain.find("acceptance"), std::string::npos);
  set1.convergence.coupledNewtonFallback = 0;
  set1.convergence.acceptance_step = 0.02, set1.convergence.acceptance_current = 5e-4;
  set1.convergence.minimum_bias_step = 0.0;
  const std::string text = DefinitionFileText(set1, ms, extras, kBanner, kSavedAt);
  for (const char* line : {"\ncoupled Newton fallback :  0 (1: retry a failed bias point coupled; 0: Gummel only)\n",
                           "\nacceptance step :  2.00e-02 (kT)\n", "\nacceptance current :  5.00e-04 (rel.)\n",
                           "\nminimum bias step :  0.00e+00 (V)\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
  const ReadResult back = ReadDefText(dir, text);
  ASSERT_EQ(back.rc, 0);
  EXPECT_EQ(back.set.convergence, set1.convergence);
}

// ---------------------------------------------------------------------------------------------
// Rejected content: a clear message naming the line, and the records untouched
// ---------------------------------------------------------------------------------------------

struct BadCase {
  const char* what;
  std::string text;
  int line;  // the line the message must name
};

void PrintTo(const BadCase& c, std::ostream* os) { *os << c.what; }

class DefFileReject : public ::testing::TestWithParam<BadCase> {};

TEST_P(DefFileReject, IsRejectedWithTheLineNumberAndLeavesTheRecordsAlone) {
  const BadCase& bad = GetParam();
  TempDir dir;
  Recorder rec;
  // The records hold a loaded cell before the bad file comes.
  InputParameters set;
  MottSchottkySettings ms;
  DefinitionExtras extras;
  InitialiseInputParameters(set, ms);
  ASSERT_EQ(lees_structuurfile(rec.env(), TestData("deffile/two_layers.def"), set, ms, extras), 0);
  const InputParameters setBefore = set;
  const MottSchottkySettings msBefore = ms;
  const DefinitionExtras extrasBefore = extras;

  const std::string path = dir.file("bad.def");
  WriteWholeFile(path, bad.text);
  EXPECT_LT(lees_structuurfile(rec.env(), path, set, ms, extras), 0);
  EXPECT_TRUE(set == setBefore);
  EXPECT_EQ(ms, msBefore);
  EXPECT_EQ(extras, extrasBefore);
  ASSERT_EQ(rec.ui.popups.size(), 1u);
  EXPECT_EQ(rec.ui.popups[0].title.rfind("Error whilst reading the def file", 0), 0u) << rec.ui.popups[0].title;
  EXPECT_NE(rec.ui.popups[0].message.find("line " + std::to_string(bad.line) + ":"), std::string::npos)
      << rec.ui.popups[0].message;

  // The bare readers reject it the same way.
  CellDefinition cell;
  InitialiseCellDefinition(cell);
  const CellDefinition cellBefore = cell;
  EXPECT_LT(ReadCeldefVariableFromDefFile(rec.env(), path, cell), 0);
  EXPECT_TRUE(cell == cellBefore);
  ShortCellDefinition shortDef;
  InitialiseShortCellDefinition(shortDef);
  const ShortCellDefinition shortBefore = shortDef;
  EXPECT_LT(ReadShortCeldefVariableFromDefFile(rec.env(), path, shortDef), 0);
  EXPECT_TRUE(shortDef == shortBefore);
}

std::string Layers(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += "layer\nd : 1e-6\n";
  return s;
}

std::string Defects(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += i == 0 ? "srhrecombination\ntype : neutral\n" : "next\ntype : neutral\n";
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DefFileReject,
    ::testing::Values(
        BadCase{"level type at NDEFLEVTYPE", "layer\nsrhrecombination\ntype : neutral ( 1 level(s) )\nleveltype :7\t\n",
                4},
        BadCase{"unknown level type text", "layer\nsrhrecombination\nleveltype :4+/5+\t\n", 3},
        BadCase{"eight layers", Layers(8), 15}, BadCase{"eight defects in a layer", "layer\n" + Defects(8), 16},
        BadCase{"four interface defects",
                "layer\ninterface properties\ninterface recombination\nnext\nnext\nnext\nlayer\n", 6},
        BadCase{"NaN thickness", "layer\nd : nan [m]\n", 2},
        BadCase{"overflowing thickness", "layer\nd : 1e999 [m]\n", 2},
        BadCase{"density beyond what converts safely", "layer\nnext\nNleft : 1e260\n", 3},
        BadCase{"negative thickness", "layer\nname : x\nd : -2e-6 [m]\n", 3},
        BadCase{"zero thickness", "convergence\nlayer\nd : 0.0 [m]\n", 3},
        BadCase{"overflow in a graded line", "layer\nNc :\t1e25\t1e999\t1\t1\t1\t1\t1\t0\t0\t[/m^3]\n", 2},
        BadCase{"graded line without a number", "layer\nchi :\t[eV]\n", 2},
        BadCase{"law 13 from a file", "layer\nEg :\t1\t1\t1\t1\t1\t1\t1\t13\t0\t[eV]\n", 2},
        BadCase{"dependence 3", "layer\nNd :\t1\t1\t1\t1\t1\t1\t1\t1\t3\t[/m^3]\n", 2},
        BadCase{"zero levels", "layer\nsrhrecombination\ntype : donor ( 0 level(s) )\n", 3},
        BadCase{"five levels", "layer\nsrhrecombination\ntype : donor ( 5 level(s) )\n", 3},
        BadCase{"unknown defect type", "layer\nsrhrecombination\ntype : quintuple\n", 3},
        BadCase{"unknown distribution", "layer\nsrhrecombination\nenergy distribution : lorentz\n", 3},
        BadCase{"unknown spatial profile", "layer\nnext\nprofile : wavy\n", 3},
        BadCase{"unknown interface defect type", "layer\ninterface recombination\ntype : x\n", 3},
        BadCase{"unknown filter kind", "back contact\noptical filter : absorption\n", 2},
        BadCase{"unknown absorption model", "layer\nabsorptionmodel pure A material (y=0) : table\n", 2},
        BadCase{"flag out of range", "back contact\nflatband : 2\n", 2},
        BadCase{"fractional integer", "convergence\nmaxiter : 2.5\n", 2},
        BadCase{"bulk reference out of range", "layer\nnext\nReference for defect energy : 3\n", 3},
        BadCase{"interface reference out of range",
                "layer\ninterface properties\ninterface recombination\nReference for defect energy : 2\n", 4},
        BadCase{"third metastable transition", "layer\nMetastable properties: transition 3\n", 2},
        BadCase{"Mott-Schottky with 4 points", "Mott-Schottky analysis number of points : 4\n", 1},
        BadCase{"interface after the seventh layer", Layers(7) + "interface properties\n", 15},
        BadCase{"energy out of the fixed layout", "layer\nnext\nEt : 1e7\n", 3},
        BadCase{"defect level without a value", "layer\nnext\nsigma_n : [m^2]\n", 3}),
    [](const ::testing::TestParamInfo<BadCase>& info) {
      std::string name;
      for (const char* p = info.param.what; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

// ---------------------------------------------------------------------------------------------
// Hostile input
// ---------------------------------------------------------------------------------------------

TEST(DefFileHostile, UnreadableEmptyAndCommentOnlyFilesLeaveTheRecordsAlone) {
  // A missing file, a folder (opens but cannot be read) and files without any section: one
  // message each, and the loaded cell stays.
  TempDir dir;
  for (const auto& [name, text, rc] :
       {std::tuple{"absent.def", "", -1}, std::tuple{"", "", -1}, std::tuple{"empty.def", "", -2},
        std::tuple{"blank.def", "\n\n   \n", -2}, std::tuple{"remark.def", "> only a remark\n", -2}}) {
    const std::string path = *name ? dir.file(name) : dir.path().string();
    if (rc == -2) WriteWholeFile(path, text);
    Recorder rec;
    InputParameters set;
    MottSchottkySettings ms;
    DefinitionExtras extras;
    InitialiseInputParameters(set, ms);
    set.cellParas.numberOfLayers = 3;
    const InputParameters before = set;
    EXPECT_EQ(lees_structuurfile(rec.env(), path, set, ms, extras), rc) << path;
    EXPECT_TRUE(set == before);
    EXPECT_EQ(rec.ui.popups.size(), 1u);
  }
}

TEST(DefFileShort, ShortReaderAgreesWithTheLongReader) {
  Recorder rec;
  ShortCellDefinition fromFile;
  ASSERT_EQ(ReadShortCeldefVariableFromDefFile(rec.env(), TestData("deffile/two_layers.def"), fromFile), 0);
  CellDefinition cell;
  ASSERT_EQ(ReadCeldefVariableFromDefFile(rec.env(), TestData("deffile/two_layers.def"), cell), 0);
  ShortCellDefinition fromCell;
  LongToShortCellDefinition(cell, fromCell);
  EXPECT_EQ(fromFile, fromCell);
  EXPECT_EQ(fromFile.numberOfLayers, 2);
  EXPECT_EQ(fromFile.layer[0].composition, (ShortProfile{LAW_FROM_FILE, DEP_POSITION}));
  EXPECT_EQ(fromFile.rightContact.filterOn, 1);
  EXPECT_TRUE(rec.ui.popups.empty());
}

}  // namespace
}  // namespace zoniq::test
