// Function-call statistics of a session: each counted numerical kernel takes a slot on its
// first call and adds one to it on every call; "counts.txt" is written from them at the end.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace zoniq {

struct CallCountEntry {
  std::string name;  // at most 255 characters
  long count = 0;
};

class CallCounter {
 public:
  static constexpr int kMaxSlots = 300;

  // The kernels named in the statistics. Each has its own slot number in `slotOf_`.
  enum Function {
    bereken_energie_as, r_input_energie, ifr_input_energie, CalculateFluxesEverywhere, CalculateGnpMax,
    rdcbijdrage_een_niveau, rdcbijdrage_een_niveau_multilevel, rdcbijdrage_een_niveau_multilevel_old,
    rdcbijdrage_distributie_multilevel, totale_rdcbijdrage_multilevel, update_psivar,
    EcToTrapTunnelingRight, EvToTrapTunnelingLeft, interfaceTrapTunneling, los_totaal_dc_stelsel_op_Gummel,
    IterateFt, psi_iteratie_Gummel, u_or_v_iteratie_Gummel, CalculateTunnelCurrents,
    CalculateTunnelCurrentsNew, CalculateTunnelIfaceToIface, IntrabandTunneling, EcIntrabandTunneling,
    EvIntrabandTunneling, bereken_stelsel_psi_Gummel, bereken_stelsel_u_Gummel, bereken_stelsel_v_Gummel,
    bereken_jac_psi_Gummel, bereken_jac_u_Gummel, bereken_jac_v_Gummel, bereken_delta_psi_Gummel,
    bereken_delta_u_of_v_Gummel, bereken_delta_u_of_v_Gummel_sparse, bereken_delta_u_of_v_Gummel_tunnel,
    PasBiasAan, maximum_psi_array, schaal_array, clamping_u_or_v, tunnelingToContacts,
    kNumFunctions
  };

  CallCounter() { slotOf_.fill(-1); }

  void Count(Function f) { Count(slotOf_[f], FunctionName(f)); }
  // The general form: `slot` is the caller's own slot number (-1 = unassigned).
  void Count(int& slot, std::string_view name);

  static const char* FunctionName(Function f);

  int __countId = 0;
  std::array<CallCountEntry, kMaxSlots> __counts{};

  // Writes the statistics ("counts.txt" layout) to `path`; false when it cannot be created.
  bool WriteCountsFile(const std::string& path) const;

 private:
  std::array<int, kNumFunctions> slotOf_{};
};

}  // namespace zoniq
