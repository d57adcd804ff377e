// Fuzz target of the batch and recorder settings readers: any bytes are read as a batch
// settings file and as a recorder settings file. Text that is accepted is written and read
// back; from then on writing and reading must reproduce the same text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "batch/all_settings.hpp"
#include "batch/batch_file.hpp"
#include "batch/recorder.hpp"
#include "fuzz_support.hpp"
#include "ui/error_message.hpp"
#include "ui/user_interface.hpp"

using zoniq::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  zoniq::RecordingUserInterface ui;
  zoniq::ErrorReporting errors;
  const zoniq::Environment env{&ui, &errors, "."};

  zoniq::BatchSetup batch;
  if (zoniq::ParseBatchSettings(env, text, "fuzz.sbf", batch) == 0) {
    const zoniq::BatchSetup third = zoniq::fuzz::RequireStableRoundTrip(
        batch,
        [&](const std::string& t, zoniq::BatchSetup& b) { return zoniq::ParseBatchSettings(env, t, "fuzz.sbf", b); },
        [](const zoniq::BatchSetup& b) { return zoniq::BatchSettingsText(b); });
    long long steps = 0;
    std::string why;
    if (zoniq::CountBatchSteps(third, steps, why))
      for (long long k = 0; k < steps && k < 64; ++k) (void)zoniq::StepPosition(third, k);
  }

  // The container's sections: every line lands in at most one section, whole.
  std::string sections[zoniq::kContainerSectionCount];
  bool present[zoniq::kContainerSectionCount];
  bool markers = false;
  std::string why;
  if (zoniq::SplitContainer(text, sections, present, markers, why) == 0) {
    std::size_t total = 0;
    for (const std::string& section : sections) total += section.size();
    Require(total <= text.size() + zoniq::SplitLines(text).size());
  }

  zoniq::RecorderSetup recorder;
  if (zoniq::SetRecordFromText(env, text, "fuzz.srf", recorder) == 0) {
    const std::string once = zoniq::RecordSettingsText(recorder);
    zoniq::RecorderSetup again;
    Require(zoniq::SetRecordFromText(env, once, "fuzz.srf", again) == 0);
    Require(zoniq::RecordSettingsText(again) == once);
  }
  return 0;
}
