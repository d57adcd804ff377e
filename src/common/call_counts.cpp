#include "common/call_counts.hpp"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace zoniq {

const char* CallCounter::FunctionName(Function f) {
  static constexpr const char* kNames[kNumFunctions] = {
      "bereken_energie_as", "r_input_energie", "ifr_input_energie", "CalculateFluxesEverywhere",
      "CalculateGnpMax", "rdcbijdrage_een_niveau", "rdcbijdrage_een_niveau_multilevel",
      "rdcbijdrage_een_niveau_multilevel_old", "rdcbijdrage_distributie_multilevel",
      "totale_rdcbijdrage_multilevel", "update_psivar", "EcToTrapTunnelingRight", "EvToTrapTunnelingLeft",
      "interfaceTrapTunneling", "los_totaal_dc_stelsel_op_Gummel", "IterateFt", "psi_iteratie_Gummel",
      "u_or_v_iteratie_Gummel", "CalculateTunnelCurrents", "CalculateTunnelCurrentsNew",
      "CalculateTunnelIfaceToIface", "IntrabandTunneling", "EcIntrabandTunneling", "EvIntrabandTunneling",
      "bereken_stelsel_psi_Gummel", "bereken_stelsel_u_Gummel", "bereken_stelsel_v_Gummel",
      "bereken_jac_psi_Gummel", "bereken_jac_u_Gummel", "bereken_jac_v_Gummel", "bereken_delta_psi_Gummel",
      "bereken_delta_u_of_v_Gummel", "bereken_delta_u_of_v_Gummel_sparse",
      "bereken_delta_u_of_v_Gummel_tunnel", "PasBiasAan", "maximum_psi_array", "schaal_array",
      "clamping_u_or_v", "tunnelingToContacts"};
  return (f >= 0 && f < kNumFunctions) ? kNames[f] : "";
}

void CallCounter::Count(int& slot, std::string_view name) {
  if (slot < 0) {
    slot = __countId;
    ++__countId;
    // Functions beyond the last slot share it; it bears the name of the last one to take it.
    if (slot >= kMaxSlots) slot = kMaxSlots - 1;
    __counts[slot].name = std::string(name.substr(0, 255));
  }
  ++__counts[slot].count;
}

bool CallCounter::WriteCountsFile(const std::string& path) const {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  const int used = std::min(__countId, kMaxSlots);
  std::fprintf(f, "%d Counting the function calls in this ZONIQ session:\n", used);
  std::vector<const CallCountEntry*> order;
  for (int i = 0; i < used; ++i) order.push_back(&__counts[i]);
  std::stable_sort(order.begin(), order.end(),
                   [](const CallCountEntry* a, const CallCountEntry* b) { return a->count > b->count; });
  for (const CallCountEntry* e : order) std::fprintf(f, "%ld times function %s\n", e->count, e->name.c_str());
  return std::fclose(f) == 0;
}

}  // namespace zoniq
