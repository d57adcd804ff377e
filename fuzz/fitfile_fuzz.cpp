// Fuzz target of the curve-fitting settings reader: any bytes are read as a settings file.
// Text that is accepted is written and read back; from then on writing and reading must
// reproduce the same text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fit/fit_file.hpp"
#include "ui/error_message.hpp"
#include "ui/user_interface.hpp"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  zoniq::RecordingUserInterface ui;
  zoniq::ErrorReporting errors;
  const zoniq::Environment env{&ui, &errors, "."};
  zoniq::CurveFitter fitter;
  if (zoniq::ParseCurveFittingSettings(env, text, "fuzz.scf", fitter) == 0) {
    const std::string once = zoniq::CurveFittingSettingsText(fitter);
    zoniq::CurveFitter again;
    Check(zoniq::ParseCurveFittingSettings(env, once, "fuzz.scf", again) == 0);
    const std::string twice = zoniq::CurveFittingSettingsText(again);
    zoniq::CurveFitter third;
    Check(zoniq::ParseCurveFittingSettings(env, twice, "fuzz.scf", third) == 0);
    Check(zoniq::CurveFittingSettingsText(third) == twice);
  }
  return 0;
}
