// Fuzz target of the definition-file reader: any bytes are read; a file that is accepted is
// converted to practical units, saved, and must then be read back without complaint.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "celldef/cell_definition.hpp"
#include "celldef/definition_file.hpp"
#include "common/format.hpp"
#include "ui/error_message.hpp"
#include "ui/user_interface.hpp"

namespace {

// A folder of this process for the input and output files.
const std::filesystem::path& WorkFolder() {
  static const std::filesystem::path folder = [] {
    std::filesystem::path p =
        std::filesystem::temp_directory_path() / ("zoniq_deffile_fuzz_" + std::to_string(::getpid()));
    std::filesystem::create_directories(p);
    return p;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zoniq;
  const std::string in = (WorkFolder() / "in.def").string();
  const std::string out = (WorkFolder() / "out.def").string();
  {
    FilePtr f = OpenFile(in, "wb");
    if (!f) return 0;
    if (size > 0 && std::fwrite(data, 1, size, f.get()) != size) return 0;
  }
  RecordingUserInterface ui;
  ErrorReporting errors;
  const Environment env{&ui, &errors, WorkFolder().string()};

  InputParameters set;
  MottSchottkySettings ms;
  DefinitionExtras extras;
  InitialiseInputParameters(set, ms);
  if (lees_structuurfile(env, in, set, ms, extras) != 0) return 0;

  // Load it as the program does and save it again.
  CellDefinition zonnecel;
  parameterset1_to_2(zonnecel, set);
  InputParameters set1 = set;
  if (SaveDefinitionFileToPath(env, out, zonnecel, set1, ms, extras, "ZONIQ fuzz banner ",
                               DateTime{1, 2, 2024, 3, 4, 5}) != 0)
    std::abort();  // a writable temporary file that cannot be written

  // What the program writes, the program must read.
  InputParameters again;
  MottSchottkySettings msAgain;
  DefinitionExtras extrasAgain;
  InitialiseInputParameters(again, msAgain);
  if (lees_structuurfile(env, out, again, msAgain, extrasAgain) != 0) std::abort();
  if (again.cellParas.numberOfLayers != set.cellParas.numberOfLayers) std::abort();
  return 0;
}
