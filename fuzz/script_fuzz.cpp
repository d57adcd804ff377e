// Fuzz target of the script interpreter: any bytes are run as a script on a fresh session. The
// run is made safe for untrusted input: no operating-system commands, no user-function
// library, no simulations, files written only inside a temporary program folder, and a limit
// on the command lines a run may execute (loops and nested scripts included).
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <system_error>

#include "app/load_files.hpp"
#include "app/main_program.hpp"
#include "app/session.hpp"
#include "common/text.hpp"
#include "script/script_interpreter.hpp"

namespace {

namespace fs = std::filesystem;

// The program folder of this process, with the example cell and spectrum when available.
const fs::path& ProgramFolder() {
  static const fs::path folder = [] {
    fs::path p = fs::temp_directory_path() / ("zoniq_script_fuzz_" + std::to_string(::getpid()));
    for (const char* sub : {"script", "results", "def", "spectrum", "generation", "bdf"})
      fs::create_directories(p / sub);
#ifdef ZONIQ_FUZZ_HOME
    std::error_code ec;
    fs::copy_file(fs::path(ZONIQ_FUZZ_HOME) / "def" / "CIGS.def", p / "def" / "CIGS.def",
                  fs::copy_options::overwrite_existing, ec);
    fs::copy_file(fs::path(ZONIQ_FUZZ_HOME) / "spectrum" / "AM1_5G 1 sun.spe", p / "spectrum" / "AM1_5G 1 sun.spe",
                  fs::copy_options::overwrite_existing, ec);
#endif
    return p;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zoniq;
  const fs::path& home = ProgramFolder();
  {
    FilePtr f = OpenFile((home / "script" / "fuzz.script").string(), "wb");
    if (!f) return 0;
    if (size > 0 && std::fwrite(data, 1, size, f.get()) != size) return 0;
  }
  Session session(home.string(), std::make_unique<RecordingUserInterface>());
  Initialise(session);
  session.errors.logFolder = home.string();
  std::ostringstream shown;
  session.scriptShowOutput = &shown;
  session.allowSystemCommands = false;
  session.allowUserFunction = false;
  session.stubSimulations = true;
  session.writeOnlyInProgramFolder = true;
  session.lineBudget = 2000;

  ScriptContext context = MakeScriptContext(session);
  int running = 1;
  const int errorMode = session.errors.ErrorMessageMode;
  RunScriptFile(context, "fuzz.script", running);
  // What a run must leave behind whatever it was given.
  if (session.errors.ErrorMessageMode != errorMode) std::abort();
  if (session.scriptDepth != 0) std::abort();
  for (int c = 0; c < kScriptSlots; ++c) {
    const std::size_t n = session.theScript.vector[c].size();
    if (n < 1 || n > kMaxScriptVectorLength || static_cast<std::size_t>(session.theScript.n[c]) != n) std::abort();
  }
  session.errors.CloseLog();
  return 0;
}
