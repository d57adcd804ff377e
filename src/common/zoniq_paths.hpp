// File kinds and the standard sub-folders of the program folder in which bare file names
// are looked up.
#pragma once

#include <string>
#include <string_view>

namespace zoniq {

enum FileKind {
  FK_DEF = 0, FK_SPECTRUM = 1, FK_ABSORPTION = 2, FK_FILTER = 3, FK_GENERATION = 4, FK_OPTCAPT = 5,
  FK_BDF = 6, FK_FILELIST = 7, FK_ACTION = 8, FK_BATCH = 9, FK_RECORD = 10, FK_SCRIPT = 11, FK_12 = 12,
  FK_ALLSETTINGS = 13, FK_EB = 14, FK_GENREC = 15, FK_AC = 16, FK_IV = 17, FK_CV = 18, FK_CF = 19, FK_QE = 20,
  FK_SAVE_OTHER = 23, FK_RECORDER = 24, FK_SCRIPTVAR = 25, FK_GRADING = 26, FK_MEASURED = 27, FK_FIT = 28,
  FK_SCALING = 29, FK_WP2 = 30, FK_UNKNOWN = -1
};

// The file-kind number of a name's extension (ignoring case); -1 when not recognised.
int DetermineZONIQFiletype(std::string_view fileName);
// The sub-folder of a kind as the folder resolution uses it.
const char* SubFolderOfKind(int kind);
// The shorter map of the tabulated-data readers; nullptr means the program folder itself.
const char* DataSubFolderOfKind(int kind);

// Resolves a name given by the user or a script. Either output may be null.
void CheckZONIQPaths(const std::string& programFolder, std::string* fullPath, std::string* fileName,
                     std::string_view givenName, int kind);
// A file to read, named by the user: resolved as CheckZONIQPaths does; when a bare name is not
// in the sub-folder of its kind but in the current folder, the current folder's file is taken
// ("./name"). `lookedIn` (may be null) receives the places searched, for a message when the file
// is in neither.
std::string ResolveInputFile(const std::string& programFolder, std::string_view givenName, int kind,
                             std::string* lookedIn = nullptr);

// Replaces `name` by its full path when it has no folder; always returns 0.
int MakeFullPath(const std::string& programFolder, std::string& name, int kind);

}  // namespace zoniq
