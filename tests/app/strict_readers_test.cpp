// Hostile input for every reader, grouped per reader: numbers with text against their digits,
// files cut short, and the places the messages name.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "celldef/data_files.hpp"
#include "celldef/definition_file.hpp"
#include "common/text.hpp"
#include "settings/settings_files.hpp"
#include "test_util.hpp"
#include "ui/error_message.hpp"

namespace zoniq {
namespace {

struct Reader {
  RecordingUserInterface ui;
  ErrorReporting errors;
  Environment env{&ui, &errors, test::HomeFolder()};
  std::string Messages() const {
    std::string all;
    for (const auto& p : ui.popups) all += p.title + "\n" + p.message + "\n";
    return all;
  }
};

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// ---- the number scanner every reader uses ----

TEST(StrictNumbers, TextAgainstTheDigitsIsRefusedTextAfterABlankEndsTheValues) {
  struct Case {
    const char* text;
    bool textEnds;
    std::vector<double> values;
    bool refused;
  };
  const Case cases[] = {
      {" 1.15O000", true, {}, true},            // letter O for a zero
      {" 3,000e-06 ", true, {}, true},          // decimal comma
      {" 2.5nm", true, {}, true},               // unit against the number
      {" 1.0000e+", true, {}, true},            // cut inside the exponent
      {" 2.5 units kT", true, {2.5}, false},    // a unit after a blank
      {" 1\t2\t3\t", false, {1, 2, 3}, false},  // tab-separated values
      {" 1\tx\t3", false, {1}, true},           // text among graded values
      {" 1 (1: flatband)", true, {1}, false},   // remark after the value
  };
  for (const Case& c : cases) {
    const StrictNumbers n = ScanNumbersStrict(c.text, 9, c.textEnds);
    EXPECT_EQ(!n.problem.empty(), c.refused) << c.text << ": " << n.problem;
    if (!c.refused) {
      EXPECT_EQ(n.values, c.values) << c.text;
    }
  }
}

// ---- the definition file ----

std::string ShippedCIGS() { return test::ReadWholeFile(test::HomeFolder() + "/def/CIGS.def"); }

int ReadDef(Reader& r, const std::string& path) {
  InputParameters set;
  MottSchottkySettings ms;
  DefinitionExtras extras;
  InitialiseInputParameters(set, ms);
  return lees_structuurfile(r.env, path, set, ms, extras);
}

// A line of the shipped file changed by replacing `from` (its first occurrence) with `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The number of the line on which `text` holds `part` first (counted from 1).
long LineOf(const std::string& text, const std::string& part) {
  const std::size_t at = text.find(part);
  return at == std::string::npos ? -1 : 1 + static_cast<long>(std::count(text.begin(), text.begin() + at, '\n'));
}

TEST(DefinitionFileStrict, TyposInNumbersAreRefusedWithFileLineAndKeyword) {
  test::TempDir dir;
  const std::string cigs = ShippedCIGS();
  struct Case {
    const char* from;
    const char* to;
    const char* keyword;
  };
  const Case cases[] = {
      {"Eg :\t  1.150000", "Eg :\t  1.15O000", "\"Eg\""},         // graded line
      {"d : 3.000e-06", "d : 3,000e-06", "\"d\""},                // thickness with a decimal comma
      {"Sn : ", "Sn : 1e5x", "\"Sn\""},                           // contact value run into text
      {"clamp_psi : ", "clamp_psi : 2.0e+0O ", "\"clamp_psi\""},  // convergence section
  };
  for (const Case& c : cases) {
    Reader r;
    const std::string text = Replaced(cigs, c.from, c.to);
    Write(dir.file("typo.def"), text);
    EXPECT_LT(ReadDef(r, dir.file("typo.def")), 0) << c.to;
    const std::string m = r.Messages();
    EXPECT_NE(m.find("'typo.def'"), std::string::npos) << m;
    EXPECT_NE(m.find("line " + std::to_string(LineOf(text, c.to)) + ":"), std::string::npos) << m;
    EXPECT_NE(m.find(c.keyword), std::string::npos) << m;
  }
}

TEST(DefinitionFileStrict, ASavedFileCutShortIsRefusedAsIncomplete) {
  test::TempDir dir;
  const std::string cigs = ShippedCIGS();
  {
    Reader r;  // the whole file loads
    Write(dir.file("whole.def"), cigs);
    EXPECT_EQ(ReadDef(r, dir.file("whole.def")), 0) << r.Messages();
  }
  // Cut at every line end from the first layer on: each is refused, never loaded with defaults.
  // (Cutting after the last value's line end leaves the whole file.)
  const std::size_t firstLayer = cigs.find("\nlayer");
  ASSERT_NE(firstLayer, std::string::npos);
  int refused = 0, cuts = 0;
  for (std::size_t at = cigs.find('\n', firstLayer + 1); at != std::string::npos; at = cigs.find('\n', at + 1)) {
    Reader r;
    Write(dir.file("cut.def"), cigs.substr(0, at + 1));
    ++cuts;
    if (ReadDef(r, dir.file("cut.def")) < 0) ++refused;
  }
  EXPECT_EQ(refused, cuts);
  // The byte counts of the report: one layer left at 5000 bytes, the ZnO layer cut at 9000.
  for (std::size_t bytes : {std::size_t{5000}, std::size_t{9000}}) {
    Reader r;
    Write(dir.file("cut.def"), cigs.substr(0, bytes));
    EXPECT_LT(ReadDef(r, dir.file("cut.def")), 0) << bytes;
    EXPECT_NE(r.Messages().find("line "), std::string::npos) << r.Messages();
  }
  {
    // Without the front contact and the working point: the message says what is missing.
    Reader r;
    Write(dir.file("cut.def"), cigs.substr(0, cigs.find("front contact")));
    EXPECT_LT(ReadDef(r, dir.file("cut.def")), 0);
    EXPECT_NE(r.Messages().find("it ends without the front contact"), std::string::npos) << r.Messages();
  }
  {
    // A layer without its Nd line names the layer and the line the layer began on.
    Reader r;
    const std::size_t layer3 = cigs.find("name : ZnO");
    const std::size_t nd = cigs.find("\nNd", layer3);
    const std::size_t ndEnd = cigs.find('\n', nd + 1);
    const std::string text = cigs.substr(0, nd) + cigs.substr(ndEnd);
    Write(dir.file("nond.def"), text);
    EXPECT_LT(ReadDef(r, dir.file("nond.def")), 0);
    EXPECT_NE(r.Messages().find("layer 3 (from line " + std::to_string(LineOf(text, "name : ZnO") - 2) +
                                ") has no \"Nd\" line"),
              std::string::npos)
        << r.Messages();
  }
}

TEST(DefinitionFileStrict, HandWrittenFragmentsStillTakeDefaults) {
  // Without the "last saved by ZONIQ" header a file may leave items out.
  test::TempDir dir;
  Reader r;
  Write(dir.file("frag.def"), "layer\nname : only\nd : 1e-6 [m]\n");
  EXPECT_EQ(ReadDef(r, dir.file("frag.def")), 0) << r.Messages();
}

// What the reader takes, the writer saves and the reader takes again: for the fuzz seeds and
// for the shipped cell with any one line left out (a hand-edited file). A saved file is held to
// the full layout, so the writer must always write every line the reader then requires.
TEST(DefinitionFileStrict, EveryAcceptedFileSurvivesASaveAndALoad) {
  test::TempDir dir;
  std::vector<std::string> inputs;
  for (const auto& entry : std::filesystem::directory_iterator(ZONIQ_FUZZ_CORPUS "/deffile"))
    inputs.push_back(test::ReadWholeFile(entry.path().string()));
  const std::string cigs = ShippedCIGS();
  // The header says "saved by ZONIQ"; without it the file is a hand-written one.
  const std::string bare = cigs.substr(cigs.find("\n> \n") + 4);
  for (std::size_t start = 0, end; (end = bare.find('\n', start)) != std::string::npos; start = end + 1)
    inputs.push_back(bare.substr(0, start) + bare.substr(end + 1));
  int accepted = 0;
  for (const std::string& text : inputs) {
    Reader r;
    Write(dir.file("in.def"), text);
    InputParameters set;
    MottSchottkySettings ms;
    DefinitionExtras extras;
    InitialiseInputParameters(set, ms);
    if (lees_structuurfile(r.env, dir.file("in.def"), set, ms, extras) != 0) continue;
    ++accepted;
    CellDefinition zonnecel;
    parameterset1_to_2(zonnecel, set);
    InputParameters set1 = set;
    ASSERT_EQ(SaveDefinitionFileToPath(r.env, dir.file("out.def"), zonnecel, set1, ms, extras, "ZONIQ test ",
                                       DateTime{1, 2, 2024, 3, 4, 5}),
              0);
    InputParameters again;
    MottSchottkySettings msAgain;
    DefinitionExtras extrasAgain;
    InitialiseInputParameters(again, msAgain);
    EXPECT_EQ(lees_structuurfile(r.env, dir.file("out.def"), again, msAgain, extrasAgain), 0)
        << r.Messages() << "\n--- input:\n"
        << text.substr(0, 300);
  }
  EXPECT_GT(accepted, 100);
}

// ---- the settings files ----

TEST(SettingsFileStrict, AValueRunIntoTextIsRefusedWithTheLine) {
  test::TempDir dir;
  const std::string act = test::ReadWholeFile(test::HomeFolder() + "/def/CIGS.act");
  for (const auto& [from, to] :
       std::vector<std::pair<std::string, std::string>>{{"Temperature :   300.00 K", "Temperature :   300,00 K"},
                                                        {"Voltage :     0.0000 V", "Voltage :     0.0O00 V"}}) {
    Reader r;
    const std::string text = Replaced(act, from, to);
    Write(dir.file("bad.act"), text);
    WorkPoint wp, second;
    MeasurementActions actions;
    ActionListExtras extras;
    EXPECT_LT(SetActionPanelFromFile(r.env, dir.file("bad.act"), wp, second, actions, extras), 0) << to;
    EXPECT_NE(r.Messages().find("line " + std::to_string(LineOf(text, to))), std::string::npos) << r.Messages();
    EXPECT_NE(r.Messages().find("text follows the digits"), std::string::npos) << r.Messages();
  }
}

// ---- tabulated data files ----

TEST(DataFileStrict, ADamagedDataLineIsRefusedAHeadingIsSkipped) {
  test::TempDir dir;
  std::vector<double> x, y;
  {
    Reader r;
    Write(dir.file("ok.abs"), "wavelength alpha\n1 sun heading\n300 1e5\n400 2e4\n");
    EXPECT_EQ(ReadDataFile(dir.file("ok.abs"), x, y, 2, r.env, true), 2) << r.Messages();
  }
  {
    Reader r;
    Write(dir.file("bad.abs"), "wavelength alpha\n300 1e5\n400 2,5e4\n");
    EXPECT_LT(ReadDataFile(dir.file("bad.abs"), x, y, 2, r.env, true), 0);
    EXPECT_NE(r.Messages().find("Line 3"), std::string::npos) << r.Messages();
  }
}

}  // namespace
}  // namespace zoniq
