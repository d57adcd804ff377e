// Fuzz target of the settings-file readers: any bytes are read as an action list, a second
// working point and general settings. A file that is accepted is saved and read back; from
// then on saving and reading must reproduce the same text (the readers normalise once).
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/format.hpp"
#include "common/text.hpp"
#include "settings/settings_files.hpp"
#include "ui/error_message.hpp"
#include "ui/session_core.hpp"
#include "ui/user_interface.hpp"

namespace {

// A program folder of this process with the sub-folders the readers look in.
const std::filesystem::path& WorkFolder() {
  static const std::filesystem::path folder = [] {
    std::filesystem::path p =
        std::filesystem::temp_directory_path() / ("zoniq_settings_fuzz_" + std::to_string(::getpid()));
    for (const char* sub : {"def", "spectrum", "generation"}) std::filesystem::create_directories(p / sub);
    return p;
  }();
  return folder;
}

struct ActionState {
  zoniq::WorkPoint wp, secondwp;
  zoniq::MeasurementActions actie;
  zoniq::ActionListExtras extras;
  std::string Body() const { return zoniq::ActionListFileBody(wp, secondwp, actie, extras); }
};

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zoniq;
  const std::string folder = WorkFolder().string();
  const std::string in = (WorkFolder() / "def" / "in.act").string();
  {
    FilePtr f = OpenFile(in, "wb");
    if (!f) return 0;
    if (size > 0 && std::fwrite(data, 1, size, f.get()) != size) return 0;
  }
  SessionCore core(folder, std::make_unique<RecordingUserInterface>());
  const Environment env = core.env();
  const HeaderInfo header{"ZONIQ fuzz banner", "new problem", DateTime{1, 2, 2024, 3, 4, 5}, std::nullopt};

  ActionState s;
  InitialiseWorkPoint(s.wp, folder);
  InitialiseWorkPoint(s.secondwp, folder);
  if (SetActionPanelFromFile(env, in, s.wp, s.secondwp, s.actie, s.extras) == 0) {
    for (const VoltageSweepAction* v : {&s.actie.iv, &s.actie.cv})
      Check(v->points >= kMinSweepPoints && v->points <= kMaxSweepPoints);
    Check(s.actie.cf.points >= kMinSweepPoints && s.actie.cf.points <= kMaxSweepPoints && s.actie.cf.startF > 0);
    Check(s.wp.temperature > 0 && s.wp.shortWavelengthCutOff <= s.wp.longWavelengthCutOff);
    // The first save rounds to the file's layouts; the second save must equal the first.
    std::string previous;
    for (int round = 0; round < 2; ++round) {
      Check(SaveActionListToPath(env, "out.act", header, s.wp, s.secondwp, s.actie, s.extras) == 0);
      ActionState r = s;
      Check(SetActionPanelFromFile(env, "out.act", r.wp, r.secondwp, r.actie, r.extras) == 0);
      if (round == 1) Check(r.Body() == previous);
      previous = r.Body();
      s = r;
    }
  }

  WorkPoint second;
  InitialiseWorkPoint(second, folder);
  SetWP2FromFile(env, in, second);

  ConvergenceParameters convergence;
  GeneralSettings general;
  if (SetGeneralZONIQSettingsFromFile(core, in, convergence, general) == 0) {
    Check(SaveGeneralSettingsToPath(core, "out.zoniq", header, convergence, general) == 0);
    ConvergenceParameters c2 = convergence;
    GeneralSettings g2 = general;
    Check(SetGeneralZONIQSettingsFromFile(core, "out.zoniq", c2, g2) == 0);
    Check(c2.defectdiscretisations == convergence.defectdiscretisations);
  }
  return 0;
}
