// Hostile input for every reader, grouped per reader: numbers with text against their digits
// (the scanner every reader uses), files cut short, and the places the messages name.
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
  bool Says(const std::string& part) const { return Messages().find(part) != std::string::npos; }
  // Reads a definition file into fresh settings.
  int Def(const std::string& path) {
    InputParameters set;
    MottSchottkySettings ms;
    DefinitionExtras extras;
    InitialiseInputParameters(set, ms);
    return lees_structuurfile(env, path, set, ms, extras);
  }
};

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// `text` with the first occurrence of `from` replaced by `to`.
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

const std::string& ShippedCIGS() {
  static const std::string text = test::ReadWholeFile(test::HomeFolder() + "/def/CIGS.def");
  return text;
}

TEST(DefinitionFileStrict, TyposAndFilesCutShortAreRefusedWithFileLineAndKeyword) {
  test::TempDir dir;
  const std::string& cigs = ShippedCIGS();
  for (const auto& [from, to, keyword] :
       {std::tuple{"Eg :\t  1.150000", "Eg :\t  1.15O000", "\"Eg\""},          // graded line
        std::tuple{"d : 3.000e-06", "d : 3,000e-06", "\"d\""},                 // thickness with a decimal comma
        std::tuple{"Sn : ", "Sn : 1e5x", "\"Sn\""},                            // contact value run into text
        std::tuple{"clamp_psi : ", "clamp_psi : 2.0e+0O ", "\"clamp_psi\""},   // convergence section
        std::tuple{"Nc :\t 2.200000e+24\t", "Nc :\t 2.200000e+\t", "\"Nc\""},  // cut inside the exponent
        std::tuple{"mu_n :\t 1.000000e-02\t 1", "mu_n :\t 1.000000e-02\t x", "\"mu_n\""}}) {  // text among values
    Reader r;
    const std::string text = Replaced(cigs, from, to);
    Write(dir.file("typo.def"), text);
    EXPECT_LT(r.Def(dir.file("typo.def")), 0) << to;
    for (const std::string& part :
         {std::string("'typo.def'"), "line " + std::to_string(LineOf(text, to)) + ":", std::string(keyword)})
      EXPECT_TRUE(r.Says(part)) << part << "\n" << r.Messages();
  }
  {
    Reader r;  // the whole file loads
    Write(dir.file("whole.def"), cigs);
    EXPECT_EQ(r.Def(dir.file("whole.def")), 0) << r.Messages();
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
    refused += r.Def(dir.file("cut.def")) < 0;
  }
  EXPECT_EQ(refused, cuts);
  Reader r;
  // A layer without its Nd line names the layer and the line the layer began on.
  const std::size_t nd = cigs.find("\nNd", cigs.find("name : ZnO"));
  const std::string text = cigs.substr(0, nd) + cigs.substr(cigs.find('\n', nd + 1));
  Write(dir.file("nond.def"), text);
  EXPECT_LT(r.Def(dir.file("nond.def")), 0);
  EXPECT_TRUE(r.Says("layer 3 (from line " + std::to_string(LineOf(text, "name : ZnO") - 2) + ") has no \"Nd\" line"))
      << r.Messages();
}

// What the reader takes, the writer saves and the reader takes again: for the fuzz seeds, for a
// hand-written fragment and for the shipped cell with any one line left out (without the "saved
// by ZONIQ" header a file may leave items out). A saved file is held to the full layout, so the
// writer must always write every line the reader then requires.
TEST(DefinitionFileStrict, EveryAcceptedFileSurvivesASaveAndALoad) {
  test::TempDir dir;
  std::vector<std::string> inputs{"layer\nname : only\nd : 1e-6 [m]\n"};
  for (const auto& entry : std::filesystem::directory_iterator(ZONIQ_FUZZ_CORPUS "/deffile"))
    inputs.push_back(test::ReadWholeFile(entry.path().string()));
  const std::string& cigs = ShippedCIGS();
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
    const bool ok = lees_structuurfile(r.env, dir.file("in.def"), set, ms, extras) == 0;
    EXPECT_TRUE(ok || &text != &inputs.front()) << "the hand-written fragment: " << r.Messages();
    if (!ok) continue;
    ++accepted;
    CellDefinition zonnecel;
    parameterset1_to_2(zonnecel, set);
    ASSERT_EQ(SaveDefinitionFileToPath(r.env, dir.file("out.def"), zonnecel, set, ms, extras, "ZONIQ test ",
                                       DateTime{1, 2, 2024, 3, 4, 5}),
              0);
    EXPECT_EQ(r.Def(dir.file("out.def")), 0) << r.Messages() << "\n--- input:\n" << text.substr(0, 300);
  }
  EXPECT_GT(accepted, 100);
}

TEST(SettingsAndDataFilesStrict, AValueRunIntoTextIsRefusedWithTheLineAHeadingIsSkipped) {
  test::TempDir dir;
  Reader r;
  const std::string text = Replaced(test::ReadWholeFile(test::HomeFolder() + "/def/CIGS.act"),
                                    "Temperature :   300.00 K", "Temperature :   300,00 K");
  Write(dir.file("bad.act"), text);
  WorkPoint wp, second;
  MeasurementActions actions;
  ActionListExtras extras;
  EXPECT_LT(SetActionPanelFromFile(r.env, dir.file("bad.act"), wp, second, actions, extras), 0);
  EXPECT_TRUE(r.Says("line " + std::to_string(LineOf(text, "300,00")))) << r.Messages();
  EXPECT_TRUE(r.Says("text follows the digits")) << r.Messages();
  // A tabulated data file.
  std::vector<double> x, y;
  Reader ok, bad;
  Write(dir.file("ok.abs"), "wavelength alpha\n1 sun heading\n300 1e5\n400 2e4\n");
  EXPECT_EQ(ReadDataFile(dir.file("ok.abs"), x, y, 2, ok.env, true), 2) << ok.Messages();
  Write(dir.file("bad.abs"), "wavelength alpha\n300 1e5\n400 2,5e4\n");
  EXPECT_LT(ReadDataFile(dir.file("bad.abs"), x, y, 2, bad.env, true), 0);
  EXPECT_TRUE(bad.Says("Line 3")) << bad.Messages();
}

}  // namespace
}  // namespace zoniq
