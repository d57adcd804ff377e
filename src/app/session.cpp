#include "app/session.hpp"

namespace zoniq {

Session::Session(std::string folder, std::unique_ptr<UserInterface> userInterface)
    : programFolder(std::move(folder)), ui(std::move(userInterface)) {
  if (!ui) ui = std::make_unique<ConsoleUserInterface>();
  InitialiseInputParameters(parameterset1, mottSchottky);
  parameterset1_to_2(zonnecel, parameterset1);
}

}  // namespace zoniq
