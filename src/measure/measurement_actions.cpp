#include "measure/measurement_actions.hpp"

namespace zoniq {

void InitialiseMeasurementActions(MeasurementActions& actie) { actie = MeasurementActions{}; }

}  // namespace zoniq
