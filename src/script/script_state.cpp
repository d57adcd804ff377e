#include "script/script_state.hpp"

#include "script/user_function.hpp"

namespace zoniq {

const std::array<const char*, kScriptSlots> SCRname = {"xvector", "yvector", "zvector",
                                                       "uvector", "vvector", "wvector"};

void InitialiseScriptVariables(ScriptVariables& theScript) { theScript = ScriptVariables{}; }

int GetSCRmode(char letter) {
  switch (letter) {
    case 'x':
    case 'X':
      return 0;
    case 'y':
    case 'Y':
      return 1;
    case 'z':
    case 'Z':
      return 2;
    case 'u':
    case 'U':
      return 3;
    case 'v':
    case 'V':
      return 4;
    case 'w':
    case 'W':
      return 5;
    default:
      return -1;
  }
}

bool checkMathValue(std::string_view word, int k, std::array<int, kScriptSlots>& slots) {
  if (k < 0 || k > kScriptSlots || word.size() < static_cast<std::size_t>(k)) return false;
  for (int i = 0; i < k; ++i) {
    slots[i] = GetSCRmode(word[i]);
    if (slots[i] < 0) return false;
  }
  return true;
}

ScriptState::ScriptState() = default;
ScriptState::~ScriptState() = default;

}  // namespace zoniq
