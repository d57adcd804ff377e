#include "app/load_files.hpp"

#include <filesystem>
#include <system_error>

#include "app/session.hpp"
#include "celldef/definition_file.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"
#include "common/zoniq_paths.hpp"

namespace zoniq {

int Laad_data_uit_file(Session& session, std::string_view path, std::string* fullPath) {
  std::string lookedIn;
  const std::string full = ResolveInputFile(session.programFolder, path, FK_DEF, &lookedIn);
  if (fullPath) *fullPath = full;
  std::error_code ec;
  if (!std::filesystem::exists(NativePath(full), ec)) {
    session.Error("Error occured during opening the def-file !",
                  "The definition file '" + std::string(path) + "' was not found; looked in " + lookedIn + ".");
    return -1;
  }

  // Read into fresh records so that a file that fails half-way leaves the current cell as it was.
  InputParameters set1;
  MottSchottkySettings ms;
  DefinitionExtras extras;
  InitialiseInputParameters(set1, ms);
  if (lees_structuurfile(session.env(), NativePath(full), set1, ms, extras) < 0) return -1;

  session.parameterset1 = std::move(set1);
  session.mottSchottky = ms;
  session.definitionExtras = std::move(extras);
  ApplyDefinitionWorkPoint(session.wp, session.definitionExtras.workPoint);
  parameterset1_to_2(session.zonnecel, session.parameterset1);
  session.problemName = full;
  session.ui->StatusMessage("Problem file: " + full);
  return 0;
}

int LoadSpectrumFile(Session& session, std::string_view path, std::string* fullPath) {
  std::string lookedIn;
  const std::string full = ResolveInputFile(session.programFolder, path, FK_SPECTRUM, &lookedIn);
  if (fullPath) *fullPath = full;
  std::error_code ec;
  const bool regular = std::filesystem::is_regular_file(NativePath(full), ec);
  FilePtr file = regular ? OpenFile(NativePath(full), "rb") : nullptr;
  if (!file) {
    session.Error("Error whilst opening the spectrum file",
                  "The spectrum file '" + std::string(path) + "' cannot be opened; looked in " + lookedIn + ".");
    return -1;
  }
  session.wp.spectrumFile = full;
  session.wp.spectrumName = '\\';
  session.wp.spectrumName += FileNamePart(full);
  return 0;
}

}  // namespace zoniq

namespace zoniq {

ScriptContext MakeScriptContext(Session& session) {
  ScriptContext context{session, session, session, session, {}};
  context.hooks.loadDefinition = [&session](std::string_view name) { return Laad_data_uit_file(session, name); };
  context.hooks.runBatch = [&session] { return RunSessionBatch(session, false); };
  context.hooks.runBatchRecording = [&session] { return RunSessionBatch(session, true); };
  context.batch = &session;
  context.general = &session;
  context.hooks.runFit = [&session] { return RunSessionFit(session); };
  context.fit = &session;
  context.measurements = &session;
  return context;
}

int LoadScriptFile(Session& session, std::string_view path, std::string* fullPath, int* messages) {
  ScriptContext context = MakeScriptContext(session);
  const int before = session.errors.messagesThisRun;
  int running = 1;
  std::string full;
  const int result = RunScriptFile(context, path, running, &full);
  if (fullPath) *fullPath = full;
  if (result < 0) {
    std::string lookedIn;
    ResolveInputFile(session.programFolder, path, FK_SCRIPT, &lookedIn);
    session.Error("Error whilst reading the script file",
                  "The script file '" + std::string(path) + "' cannot be opened; looked in " + lookedIn + ".");
  }
  if (messages) *messages = session.errors.messagesThisRun - before;
  return result;
}

}  // namespace zoniq
