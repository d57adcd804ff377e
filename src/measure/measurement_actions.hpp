// The action list: which measurement sweeps run after the working point, and over which range.
#pragma once

namespace zoniq {

struct QEAction {
  int on = 0;             // "QE_calculate"
  int startLambda = 300;  // "QE_startlambda" [nm]
  int stopLambda = 1200;  // "QE_stoplambda" [nm]
  int points = 91;        // "QE_points"
  int pointsDone = 0;     // output
};

struct VoltageSweepAction {
  int on = 0;           // "IV_calculate" / "CV_calculate"
  double startV = 0.0;  // [V]
  double stopV = 1.0;   // [V]
  int points = 51;
  int pointsDone = 0;  // output
};

struct FrequencySweepAction {
  int on = 0;             // "Cf_calculate"
  double startF = 1.0e2;  // "Cf_startf" [Hz]
  double stopF = 1.0e6;   // "Cf_stopf" [Hz]
  int points = 21;        // "Cf_total points"
  int pointsDone = 0;     // output
};

struct MeasurementActions {
  QEAction qe;
  VoltageSweepAction iv;
  VoltageSweepAction cv{0, -1.0, 0.5, 31, 0};
  FrequencySweepAction cf;
};

// The user-interface companions of the point counts, stored in the action-list file beside
// the action list.
struct ActionListExtras {
  double ivIncrement = 0.02;       // "IV_increment" [V]
  double cvIncrement = 0.05;       // "CV_increment" [V]
  int qeIncrement = 10;            // "QE_increment" [nm]
  double cfPointsPerDecade = 5.0;  // "Cf_points per decade"
  int stopAfterVoc = 0;            // "stop after Voc"
  int pause = 0;                   // "pause"
};

void InitialiseMeasurementActions(MeasurementActions& actie);

}  // namespace zoniq
