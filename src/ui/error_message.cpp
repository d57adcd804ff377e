#include "ui/error_message.hpp"

#include "common/format.hpp"
#include "common/paths.hpp"
#include "common/text.hpp"

namespace zoniq {

void ErrorReporting::CloseLog() {
  if (ZONIQErrorLogFileHandle) std::fclose(ZONIQErrorLogFileHandle);
  ZONIQErrorLogFileHandle = nullptr;
}

void ZONIQErrorMessage(ErrorReporting& state, UserInterface& ui, std::string_view title, std::string_view message) {
  ++state.messagesThisRun;
  const int mode = state.ErrorMessageMode;
  if (mode != 1 && mode != 2) {
    if (state.location.empty())
      ui.MessagePopup(title, message);
    else
      ui.MessagePopupAt(state.location, title, message);
    if (mode == 0) return;
  }
  if (state.ErrorMessageNumber == 0) {
    const std::string path = JoinPath(state.logFolder, kErrorLogFileName);
    state.CloseLog();
    state.ZONIQErrorLogFileHandle = std::fopen(path.c_str(), mode == 1 ? "a" : "w");
  }
  ++state.ErrorMessageNumber;
  std::FILE* f = state.ZONIQErrorLogFileHandle;
  if (!f) return;  // a log that cannot be opened loses its lines silently

  const DateTime now = NowLocal();
  std::fprintf(f, "ZONIQ error message #%d written on\t%s at %s\n", state.ErrorMessageNumber, DateText(now).c_str(),
               TimeText(now).c_str());
  static constexpr const char* kSetupWords[] = {"whilst reading", "whilst setting", "whilst opening",
                                                "during reading", "during setting", "whilst saving",
                                                "during saving",  "during opening"};
  bool setup = false;
  for (const char* w : kSetupWords) setup = setup || ContainsNoCase(title, w);
  if (setup) {
    std::fputs("ZONIQ error message whilst reading set-up files \n", f);
    std::fputs("(def, action, spectrum, generation, filter, abs, batch, recorder, script)\n", f);
  } else if (!ContainsNoCase(title, "short circuit") && !ContainsNoCase(title, "working point")) {
    std::fputs("Unsepcified ZONIQ error message\n", f);
  }
  std::fwrite(title.data(), 1, title.size(), f);
  std::fputc('\n', f);
  std::fwrite(message.data(), 1, message.size(), f);
  std::fputc('\n', f);
  if (!state.location.empty()) std::fprintf(f, "at %s\n", state.location.c_str());
  std::fputc('\n', f);
  std::fflush(f);
}

}  // namespace zoniq
