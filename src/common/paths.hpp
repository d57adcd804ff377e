// File names as users, files and scripts give them: '/' and '\' both separate folders.
#pragma once

#include <string>
#include <string_view>

namespace zoniq {

// A name "has a directory" when it holds a folder separator or a drive ("C:").
bool HasDirectory(std::string_view name);
// The file-name part (name and extension) of a path.
std::string FileNamePart(std::string_view name);
// The folder part of a path, without the final separator; empty when there is none.
std::string FolderPart(std::string_view name);
// The name with every '\' turned into '/', so that the operating system can open it.
std::string NativePath(std::string_view name);
// folder + '/' + name (no separator doubled).
std::string JoinPath(std::string_view folder, std::string_view name);

}  // namespace zoniq
