#include "solver/calculation_variables.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "common/call_counts.hpp"
#include "solver/bernoulli.hpp"
#include "solver/linear_solvers.hpp"
#include "solver/mesh.hpp"
#include "solver/metastable.hpp"
#include "solver/x_dependence.hpp"

namespace zoniq {

void MeshBlock::resize(std::size_t n) {
  x.resize(n, 0.0);
  xm.resize(n, 0.0);
  xum.resize(n, 0.0);
  h.resize(n, 0.0);
}

void PointData::resize(std::size_t n) {
  for (std::vector<double>* a : {&y,  &chi,  &Eg, &eps, &NC, &NV, &vth_n, &vth_p, &mu_n, &mu_p,    &me,
                                 &mh, &Krad, &Cn, &Cp,  &ND, &NA, &Nnet,  &Nn,    &Np,   &theta_n, &theta_p})
    a->assign(n, 0.0);
}

void InterfaceTermBlock::resize(std::size_t n) {
  for (std::vector<double>* a : {&jn_iface, &jp_iface, &bandN, &bandP, &sinkN, &sinkP}) a->assign(n, 0.0);
  for (std::vector<double>& w : weight) w.assign(n, 0.0);
  sparse_n.clear();
  sparse_p.clear();
}

void InterfaceTermBlock::clearTerms() {
  for (auto* a :
       {&sigma,           &dsigma_dpsi,     &Fn_left,        &Fn_left_t,      &dFn_left_dup,    &dFn_left_duf,
        &Fn_right,        &Fn_right_t,      &dFn_right_dup,  &dFn_right_duf,  &Fp_left,         &Fp_left_t,
        &dFp_left_dvp,    &dFp_left_dvf,    &Fp_right,       &Fp_right_t,     &dFp_right_dvp,   &dFp_right_dvf,
        &dsigma_dpsip,    &dsigma_dpsif,    &dsigma_dup,     &dsigma_duf,     &dsigma_dvp,      &dsigma_dvf,
        &dFn_left_dpsip,  &dFn_left_dpsif,  &dFn_left_dvp,   &dFn_left_dvf,   &dFn_right_dpsip, &dFn_right_dpsif,
        &dFn_right_dvp,   &dFn_right_dvf,   &dFp_left_dpsip, &dFp_left_dpsif, &dFp_left_dup,    &dFp_left_duf,
        &dFp_right_dpsip, &dFp_right_dpsif, &dFp_right_dup,  &dFp_right_duf})
    a->fill(0.0);
}

void InterfaceTermBlock::clear() {
  clearTerms();
  std::fill(jn_iface.begin(), jn_iface.end(), 0.0);
  std::fill(jp_iface.begin(), jp_iface.end(), 0.0);
  sparse_n.clear();
  sparse_p.clear();
}

void CarrierTunnelState::resize(std::size_t n) {
  for (std::vector<double>* a : {&current, &source1, &source2, &further1, &further2, &band}) a->assign(n, 0.0);
  sparse.clear();
  // Two elements per end point and path; paths end at most once per point and start point.
  sparse.reserve(8 * n);
}

void SolutionCopy::resize(std::size_t n) {
  for (std::vector<double>* a : {&psi, &u, &v, &uOffset, &vOffset}) a->assign(n, 0.0);
}

void SolverWorkspace::resize(std::size_t n) {
  for (std::vector<double>* a : std::initializer_list<std::vector<double>*>{
           &F, &delta, &jl, &jd, &ju, &c1, &c2, &c3, &psiPrevious, &lnuPrevious, &lnvPrevious, &psiEarlier,
           &lnuEarlier, &lnvEarlier})
    a->assign(n, 0.0);
  for (SolutionCopy* s : {&entry, &pass, &good}) s->resize(n);
  extra.assign(MAXLAYERS, 0.0);
  // Coupled Newton: 3 unknowns per point, band of 2·kl + ku + 1 rows.
  band.assign(3 * n * (2 * kCoupledKl + kCoupledKu + 1), 0.0);
  pivots.assign(3 * n, 0);
  F3.assign(3 * n, 0.0);
  delta3.assign(3 * n, 0.0);
  rowScale.assign(3 * n, 0.0);
  env_start.assign(n, 0);
  env_values.clear();
  mesh.resize(n);
  meshAtEntry.resize(n);
  previousN = earlierN = 0;
}

namespace {

void SizeArrays(CalculationVariables& cv) {
  const std::size_t n = MAXPOINTS;
  for (std::vector<double>* a : {&cv.psi, &cv.Eplus, &cv.Emin, &cv.Bnp, &cv.Bnm, &cv.Bpp, &cv.Bpm, &cv.dBnp, &cv.dBnm,
                                 &cv.dBpp, &cv.dBpm, &cv.u, &cv.v, &cv.G})
    a->assign(n, 0.0);
  cv.mesh.resize(n);
  cv.initialMesh.resize(n);
  cv.pt.resize(n);
  cv.blocks.resize(n);
  cv.ifr.resize(n);
  cv.tunnel.n.resize(n);
  cv.tunnel.p.resize(n);
  cv.work.resize(n);
}

// Creates the records of every bulk defect in use.
void CreateDefectRecords(CalculationVariables& cv) {
  CalculationParameters& par = *cv.par;
  FreeRecdataStructures(cv.rec);
  const DefectAxisSettings settings{par.defectdiscretisations, par.widthtail, par.widthgauss};
  for (int l = 0; l < par.nlayers; ++l) {
    const LayerParameters& lp = par.cell.layer[l];
    const int f = cv.mesh.first[l];
    const int n = cv.mesh.last[l] - f + 1;
    const int defects = std::clamp(lp.srhteller, 0, MAXBULKDEFECTS);
    for (int m = 0; m < defects; ++m) {
      const int levels = std::clamp(lp.srh[m][0].numberOfLevels, 1, MAXLEVELS);
      DefectInput input = MakeDefectInput(std::span<const BulkRecombinationParameters>(lp.srh[m].data(), levels), 1.0);
      input.layer = l;
      input.defect = m;
      BulkDefectRecord record = CreateDefectRecord(input, f, n, settings);
      // Room for the largest mesh, so that adapting the mesh never reallocates.
      for (LevelRecord& r : record.records) {
        r.resize(MAXPOINTS);
        r.resize(n);
      }
      cv.defectNt[l][m].reserve(MAXPOINTS);
      AddDefectRecord(cv.rec, std::move(record));
    }
  }
  CreateIFRecdataStructures(cv);
  CreateMetaRecDataStructure(cv);
  FillAllDefectRecords(cv);
}

}  // namespace

int CreateCalculationVariables(CalculationVariables& cv, CalculationParameters& par, SolverContext* ctx,
                               bool buildMesh) {
  cv.teller = 0;
  cv.secondSpectrum = cv.thirdSpectrum = 0;
  cv.par = &par;
  cv.ctx = ctx;
  if (par.nlayers < 1) return -1;
  SizeArrays(cv);
  cv.u0.assign(MAXPOINTS, 1.0);  // equilibrium: u0 + u = v0 + v = 1
  cv.v0.assign(MAXPOINTS, 1.0);
  cv.uAnchor = cv.vAnchor = 1.0;
  cv.V = cv.VdivVt = 0.0;
  cv.uR = 1.0;
  if (buildMesh) {
    bepaal_intervallen(cv);
  } else if (cv.mesh.N > 0) {
    Full_x_Dependence(cv);  // the mesh is kept; its material data follow the parameter set
  }
  CreateDefectRecords(cv);
  update_psivar(cv);
  return 0;
}

void CopyCalculationVariables(CalculationVariables& dst, const CalculationVariables& src) { dst = src; }

void update_psivar(CalculationVariables& cv) {
  CountCall(cv, CallCounter::update_psivar);
  const int N = cv.mesh.N;
  const double* psi = cv.psi.data();
  const double* tn = cv.pt.theta_n.data();
  const double* tp = cv.pt.theta_p.data();
  for (int i = 0; i < N; ++i) {
    cv.Eplus[i] = std::exp(psi[i]);
    cv.Emin[i] = 1.0 / cv.Eplus[i];
  }
  cv.Bnp[0] = cv.Bnm[0] = cv.Bpp[0] = cv.Bpm[0] = 0.0;
  cv.dBnp[0] = cv.dBnm[0] = cv.dBpp[0] = cv.dBpm[0] = 0.0;
  for (int i = 1; i < N; ++i) {
    const double an = tn[i] + psi[i] - psi[i - 1] - tn[i - 1];
    const double ap = tp[i] + psi[i] - psi[i - 1] - tp[i - 1];
    BernoulliPair(an, cv.Bnp[i], cv.Bnm[i], cv.dBnp[i], cv.dBnm[i]);
    // In a layer of uniform band parameters both carriers see the same argument.
    if (ap == an) {
      cv.Bpp[i] = cv.Bnp[i];
      cv.Bpm[i] = cv.Bnm[i];
      cv.dBpp[i] = cv.dBnp[i];
      cv.dBpm[i] = cv.dBnm[i];
    } else {
      BernoulliPair(ap, cv.Bpp[i], cv.Bpm[i], cv.dBpp[i], cv.dBpm[i]);
    }
  }
}

void Set_an_And_ap(CalculationVariables& cv, double V) {
  cv.V = V;
  cv.VdivVt = V / cv.par->Vt;
  cv.uR = std::exp(cv.VdivVt);
  // The anchors are the values at the contact where each carrier is the majority: with the
  // majority electrons at the right contact (the usual n-type front) u0 + u = uR there and
  // v0 + v = 1 at the left; with a p-type right contact the roles turn: 1 (left) and 1/uR (right).
  if (ElectronsAreMinorityAtContact(*cv.par, 1)) {
    cv.uAnchor = 1.0;
    cv.vAnchor = 1.0 / cv.uR;
  } else {
    cv.uAnchor = cv.uR;
    cv.vAnchor = 1.0;
  }
  ChooseOffsets(cv);
}

namespace {

// A value at least this fraction of its anchor keeps the anchor as offset: its deviation then
// has the precision the currents need where the carrier is plentiful, and the sum loses at most
// a factor 1e3 of relative precision.
constexpr double kOffsetRange = 1e-3;

double OffsetFor(double whole, double anchor) { return whole >= kOffsetRange * anchor ? anchor : 0.0; }

inline void Split(double& w0, double& w, double anchor) {
  const double whole = w0 + w;
  const double offset = OffsetFor(whole, anchor);
  if (offset == w0) return;
  w = whole - offset;
  w0 = offset;
}

}  // namespace

void SaveSolution(const CalculationVariables& cv, SolutionCopy& c) {
  const std::vector<double>* from[] = {&cv.psi, &cv.u, &cv.v, &cv.u0, &cv.v0};
  std::vector<double>* to[] = {&c.psi, &c.u, &c.v, &c.uOffset, &c.vOffset};
  for (int k = 0; k < 5; ++k) std::copy_n(from[k]->begin(), cv.mesh.N, to[k]->begin());
}

void RestoreSolution(CalculationVariables& cv, const SolutionCopy& c) {
  const std::vector<double>* from[] = {&c.psi, &c.u, &c.v, &c.uOffset, &c.vOffset};
  std::vector<double>* to[] = {&cv.psi, &cv.u, &cv.v, &cv.u0, &cv.v0};
  for (int k = 0; k < 5; ++k) std::copy_n(from[k]->begin(), cv.mesh.N, to[k]->begin());
}

void ChooseOffsets(CalculationVariables& cv) {
  const int N = cv.mesh.N;
  for (int i = 0; i < N; ++i) {
    Split(cv.u0[i], cv.u[i], cv.uAnchor);
    Split(cv.v0[i], cv.v[i], cv.vAnchor);
  }
}

void SetCarrierValues(CalculationVariables& cv, int i, double wn, double wp) {
  cv.u0[i] = OffsetFor(wn, cv.uAnchor);
  cv.u[i] = wn - cv.u0[i];
  cv.v0[i] = OffsetFor(wp, cv.vAnchor);
  cv.v[i] = wp - cv.v0[i];
}

void InitialiseTunnelCurrent(CalculationVariables& cv, int selector) {
  // Only the tunnelling mechanisms write these arrays, and they mark it: otherwise all is zero.
  if (!cv.tunnel.present && !cv.tunnel.interfacePresent) return;
  auto clear = [](CarrierTunnelState& t) {
    std::fill(t.current.begin(), t.current.end(), 0.0);
    std::fill(t.source1.begin(), t.source1.end(), 0.0);
    std::fill(t.source2.begin(), t.source2.end(), 0.0);
    t.ifaceLeft.fill(0.0);
    t.ifaceRight.fill(0.0);
    t.contact.fill(0.0);
    t.sparse.clear();
  };
  if (selector != -1) clear(cv.tunnel.p);
  if (selector != 1) clear(cv.tunnel.n);
  for (CarrierTunnelState* t : {&cv.tunnel.n, &cv.tunnel.p}) {
    std::fill(t->further1.begin(), t->further1.end(), 0.0);
    std::fill(t->further2.begin(), t->further2.end(), 0.0);
  }
}

void SolverMessage(CalculationVariables& cv, const std::string& title, const std::string& message, bool deferrable) {
  SolverContext* ctx = cv.ctx;
  if (!ctx) return;
  ctx->lastTitle = title;
  ctx->lastMessage = message;
  if (ctx->deferMessages && deferrable) {
    ctx->deferred.emplace_back(title, message);
    return;
  }
  if (ctx->env.ui && ctx->env.errors) ctx->env.Error(title, message);
}

HeldMessages::HeldMessages(CalculationVariables& cv, bool hold) : cv_(cv), ctx_(hold ? cv.ctx : nullptr) {
  if (!ctx_) return;
  wasDeferring_ = ctx_->deferMessages;
  before_ = ctx_->deferred.size();
  ctx_->deferMessages = true;
}

void HeldMessages::FirstAttemptDone() {
  if (ctx_) firstAttempt_ = ctx_->deferred.size();
}

void HeldMessages::Rescued() {
  if (ctx_) ctx_->deferred.resize(before_);
}

void HeldMessages::Failed() {
  if (ctx_) ctx_->deferred.resize(std::min(firstAttempt_, ctx_->deferred.size()));
}

void HeldMessages::Release() {
  if (!ctx_) return;
  SolverContext* ctx = std::exchange(ctx_, nullptr);
  ctx->deferMessages = wasDeferring_;
  if (wasDeferring_) return;
  std::vector<std::pair<std::string, std::string>> held;
  held.swap(ctx->deferred);
  for (const auto& [title, message] : held) SolverMessage(cv_, title, message);
}

void HeldMessages::Finish(bool failed) {
  if (failed)
    Failed();
  else
    Rescued();
  Release();
}

void CountCall(const CalculationVariables& cv, int function) {
  if (cv.ctx && cv.ctx->counter) cv.ctx->counter->Count(static_cast<CallCounter::Function>(function));
}

MeshCarriers CarriersOf(const CalculationVariables& cv) {
  const std::size_t n = static_cast<std::size_t>(cv.mesh.N);
  MeshCarriers c;
  c.expPsi = std::span<const double>(cv.Eplus.data(), n);
  c.expMinPsi = std::span<const double>(cv.Emin.data(), n);
  c.Nn = std::span<const double>(cv.pt.Nn.data(), n);
  c.Np = std::span<const double>(cv.pt.Np.data(), n);
  c.u = std::span<const double>(cv.u.data(), n);
  c.v = std::span<const double>(cv.v.data(), n);
  c.u0 = std::span<const double>(cv.u0.data(), n);
  c.v0 = std::span<const double>(cv.v0.data(), n);
  return c;
}

MeshBulkData BulkDataOf(const CalculationVariables& cv) {
  const std::size_t n = static_cast<std::size_t>(cv.mesh.N);
  const std::size_t nl = static_cast<std::size_t>(cv.par->nlayers);
  MeshBulkData d;
  d.first = std::span<const int>(cv.mesh.first.data(), nl);
  d.last = std::span<const int>(cv.mesh.last.data(), nl);
  d.K = std::span<const double>(cv.pt.Krad.data(), n);
  d.Cn = std::span<const double>(cv.pt.Cn.data(), n);
  d.Cp = std::span<const double>(cv.pt.Cp.data(), n);
  return d;
}

}  // namespace zoniq
