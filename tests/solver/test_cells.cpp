#include "test_cells.hpp"

namespace zoniq::test {

namespace {

void Material(LayerParameters& l, double d, double Eg, double chi, double eps, double Nc, double Nv, double mun,
              double mup, double Nd, double Na) {
  l.d = d;
  Profile* p[] = {&l.Eg, &l.chi, &l.eps, &l.Nc, &l.Nv, &l.mu_n, &l.mu_p, &l.Nd, &l.Na, &l.v_th_n, &l.v_th_p};
  const double v[] = {Eg, chi, eps, Nc, Nv, mun, mup, Nd, Na, 1e5, 1e5};
  for (int k = 0; k < 11; ++k) *p[k] = UniformProfile(v[k], p[k]->dependence);
}

void Contacts(InputParameters& set, double S) {
  for (ContactParameters* c : {&set.cellParas.leftContact, &set.cellParas.rightContact})
    c->flatband = 1, c->Sn = S, c->Sp = S;
}

}  // namespace

InputParameters PnJunction(const PnOptions& o) {
  InputParameters set;
  MottSchottkySettings ms;
  InitialiseInputParameters(set, ms);
  CellDefinition& c = set.cellParas;
  c.numberOfLayers = 2;
  Material(c.layer[0], o.Wp, 1.12, 4.05, 11.9, 1e25, 1e25, o.mu, o.mu, 0.0, o.NA);
  Material(c.layer[1], o.Wn, 1.12, 4.05, 11.9, 1e25, 1e25, o.mu, o.mu, o.ND, 0.0);
  Contacts(set, o.S);
  return set;
}

void AddSingleLevelDefect(InputParameters& set, int layer, double Et, double Nt, double sigma) {
  LayerParameters& l = set.cellParas.layer[layer];
  const int m = l.srhteller++;
  BulkRecombinationParameters& level = l.srh[m][0];
  InitialiseBulkRecombinationParameters(level, layer, m);
  level.type = DT_NEUTRAL, level.aard = DEFLEVTYPE_NEUTRAL, level.numberOfLevels = 1;
  level.distribution = ED_SINGLE, level.reference = 0, level.Et = Et;
  level.sigma_n = level.sigma_p = sigma;
  level.degeneracyFlag = 1;
  level.Nt = UniformProfile(Nt, DEP_UNIFORM);
}

InputParameters LongBaseJunction(const PnOptions& o, double clean, double Nt, double sigma) {
  InputParameters set = PnJunction(o);
  CellDefinition& c = set.cellParas;
  c.numberOfLayers = 3;
  c.layer[2] = c.layer[1];
  c.layer[1] = c.layer[0];
  c.layer[2].layernumber = 2, c.layer[1].layernumber = 1;
  c.layer[0].d = o.Wp - clean, c.layer[1].d = clean;
  AddSingleLevelDefect(set, 0, 0.56, Nt, sigma);
  return set;
}

InputParameters ThinFilmCell(bool defect) {
  InputParameters set;
  MottSchottkySettings ms;
  InitialiseInputParameters(set, ms);
  CellDefinition& c = set.cellParas;
  c.numberOfLayers = 3;
  Material(c.layer[0], 2e-6, 1.15, 4.50, 13.6, 2.2e24, 1.8e25, 0.01, 0.0025, 0.0, 1e22);
  Material(c.layer[1], 50e-9, 2.40, 4.45, 10.0, 2.2e24, 1.8e25, 0.01, 0.0025, 1e23, 0.0);
  Material(c.layer[2], 200e-9, 3.30, 4.55, 9.0, 2.2e24, 1.8e25, 0.01, 0.0025, 1e24, 0.0);
  Contacts(set, 1e7);
  if (defect) AddSingleLevelDefect(set, 0, 1.15 / 2.0, 1e20, 1e-19);
  return set;
}

InterfaceRecombinationParameters& AddInterfaceDefect(InputParameters& set, int iface, int type, double Et,
                                                     int reference, double N, std::array<double, 4> sigma,
                                                     int distribution, double Ekar) {
  InterfaceParameters& I = set.cellParas.interface[static_cast<std::size_t>(iface)];
  InterfaceRecombinationParameters& d = I.ifr[static_cast<std::size_t>(I.numberOfDefects++)];
  d.type = type, d.Et = Et, d.reference = reference, d.N = N, d.distribution = distribution, d.Ekar = Ekar;
  d.sigma_nleft = sigma[0], d.sigma_nright = sigma[1], d.sigma_pleft = sigma[2], d.sigma_pright = sigma[3];
  return d;
}

InputParameters DefectiveHeterojunction() {
  InputParameters set = ThinFilmCell(true);
  AddInterfaceDefect(set, 0, DT_ACCEPTOR, 0.55, 4, 3e15, {2e-19, 5e-19, 1e-18, 3e-19}, ED_GAUSS, 0.08);
  AddInterfaceDefect(set, 0, DT_NEUTRAL, 0.6, 3, 1e15, {1e-18, 1e-19, 4e-19, 2e-18});
  AddInterfaceDefect(set, 1, DT_DONOR, 0.1, 6, 2e15, {3e-19, 1e-19, 2e-19, 7e-19});
  return set;
}

}  // namespace zoniq::test
