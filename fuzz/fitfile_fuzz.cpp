// Fuzz target of the curve-fitting settings reader: any bytes are read as a settings file.
// Text that is accepted is written and read back; from then on writing and reading must
// reproduce the same text.
#include <cstdint>
#include <string>
#include <string_view>

#include "fit/fit_file.hpp"
#include "fuzz_support.hpp"
#include "ui/error_message.hpp"
#include "ui/user_interface.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  zoniq::RecordingUserInterface ui;
  zoniq::ErrorReporting errors;
  const zoniq::Environment env{&ui, &errors, "."};
  zoniq::CurveFitter fitter;
  if (zoniq::ParseCurveFittingSettings(env, text, "fuzz.scf", fitter) == 0) {
    zoniq::fuzz::RequireStableRoundTrip(
        fitter,
        [&](const std::string& t, zoniq::CurveFitter& f) {
          return zoniq::ParseCurveFittingSettings(env, t, "fuzz.scf", f);
        },
        [](const zoniq::CurveFitter& f) { return zoniq::CurveFittingSettingsText(f); });
  }
  return 0;
}
