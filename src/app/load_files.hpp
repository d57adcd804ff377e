// Loading the files that the command line (and later the panels and scripts) name into the
// session.
#pragma once

#include <string>
#include <string_view>

#include "script/script_interpreter.hpp"

namespace zoniq {

struct Session;

// Loads a definition file into the session's cell: the name is resolved in the "def"
// sub-folder when it has no folder, read into a fresh parameter set 1 and, on success,
// converted to `zonnecel`; `problemName` becomes the file's full path. On failure (reported
// by the reader) the session keeps its cell. Returns 0 on success, negative on failure.
// `fullPath` (may be null) receives the resolved path.
int Laad_data_uit_file(Session& session, std::string_view path, std::string* fullPath = nullptr);

// Chooses the illumination spectrum: the name is resolved in the "spectrum" sub-folder when
// it has no folder and must name a readable file; the session's `spectrumFile` then holds its
// full path. Returns 0 on success, -1 (reported through the error routine) when the file
// cannot be opened; `spectrumFile` is then unchanged.
int LoadSpectrumFile(Session& session, std::string_view path, std::string* fullPath = nullptr);

// The parts of the session a script works on, with the loaders of this layer.
ScriptContext MakeScriptContext(Session& session);

// Runs a script file on the session (a bare name is looked for in the "script" sub-folder).
// Returns 0 when it ran, -1 (reported) when it could not be opened. `messages` (may be null)
// receives the number of messages the script reported through the error routine.
int LoadScriptFile(Session& session, std::string_view path, std::string* fullPath = nullptr, int* messages = nullptr);

}  // namespace zoniq
