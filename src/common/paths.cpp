#include "common/paths.hpp"

namespace zoniq {

static bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool HasDirectory(std::string_view name) {
  if (name.find_first_of("/\\") != std::string_view::npos) return true;
  // A Windows drive prefix such as "C:name".
  return name.size() >= 2 && name[1] == ':' &&
         ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

std::string FileNamePart(std::string_view name) {
  auto pos = name.find_last_of("/\\");
  if (pos == std::string_view::npos) {
    if (name.size() >= 2 && name[1] == ':') return std::string(name.substr(2));
    return std::string(name);
  }
  return std::string(name.substr(pos + 1));
}

std::string FolderPart(std::string_view name) {
  auto pos = name.find_last_of("/\\");
  if (pos == std::string_view::npos) return {};
  return std::string(name.substr(0, pos));
}

std::string NativePath(std::string_view name) {
  std::string r(name);
  for (char& c : r)
    if (c == '\\') c = '/';
  return r;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  std::string r(folder);
  if (!IsSeparator(r.back())) r.push_back('/');
  std::size_t i = 0;
  while (i < name.size() && IsSeparator(name[i])) ++i;
  r.append(name.substr(i));
  return r;
}

}  // namespace zoniq
