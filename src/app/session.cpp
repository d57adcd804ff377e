#include "app/session.hpp"

namespace zoniq {

const std::array<PlotColour, kNumberOfPlotColours> kPlotPalette = {
    0xFFFFFF, 0xFF0000, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF00FF, 0xFFFF00, 0x800000,
    0x000080, 0x008000, 0x008080, 0x800080, 0x808000, 0xC0C0C0, 0x808080, 0x000000};

Session::Session(std::string folder, std::unique_ptr<UserInterface> userInterface)
    : SessionCore(std::move(folder), std::move(userInterface)) {
  plotColours = kPlotPalette;
}

int RunSessionBatch(Session& session, bool recording) {
  BatchRunContext context{session, session, session, session, session.batchQuiet ? nullptr : session.batchProgress, {}};
  // A stop asked between two steps ends the batch after the confirmation.
  context.stopRequested = [&session] {
    return session.ui->StopRequested() &&
           session.ui->ConfirmPopup("Stop batch assignment", "Are you sure you want to stop this batch assignment?",
                                    true);
  };
  return RunBatch(context, recording);
}

int RunSessionFit(Session& session) {
  FitRunContext context{session,
                        session,
                        session,
                        session.theCurveFitter,
                        session.batchJobs,
                        session.batchQuiet ? nullptr : session.batchProgress,
                        {}};
  context.stopRequested = [&session] {
    return session.ui->StopRequested() &&
           session.ui->ConfirmPopup("Curve fitting", "Are you sure you want to stop this curve fitting calculation?",
                                    true);
  };
  return RunCurveFit(context);
}

}  // namespace zoniq
