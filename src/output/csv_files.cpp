#include "output/csv_files.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "common/text.hpp"

namespace zoniq {

namespace {

// The single-byte unit texts of the tab-separated files in ASCII.
std::string Ascii(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == 0xB5) {
      out += 'u';
    } else if (c == 0xB0) {
      out += "deg";
    } else if (c == 0xB2) {
      out += '2';
    } else if (c == 0xB3) {
      out += '3';
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xB5) {
      out += 'u';  // UTF-8 µ
      ++i;
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    }
  }
  return out;
}

template <class Fields>
void Row(std::string& out, const Fields& fields) {
  bool first = true;
  for (const std::string& f : fields) {
    if (!first) out += ',';
    out += f;
    first = false;
  }
  out += '\n';
}
void Row(std::string& out, std::initializer_list<std::string> fields) {
  Row<std::initializer_list<std::string>>(out, fields);
}

}  // namespace

std::string CsvNumber(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.9g", v);
  return buf;
}

bool IsCsvFileName(std::string_view name) {
  return name.size() >= 4 && EqualsNoCase(name.substr(name.size() - 4), ".csv");
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string q = "\"";
  for (char c : text) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

std::string IVCsv(const std::list<SimulationRecord>& records) {
  std::string out;
  for (const SimulationRecord& r : records) {
    const IVResult& iv = r.iv;
    if (!iv.present) continue;
    if (out.empty())
      out =
          "simulation,V (V),J_tot (mA/cm2),J_bulk (mA/cm2),J_ifr (mA/cm2),Js_n (mA/cm2),Js_p (mA/cm2),"
          "J_SRH (mA/cm2),J_radiative (mA/cm2),J_Auger (mA/cm2)\n";
    const std::size_t n = static_cast<std::size_t>(std::max(0, iv.pointsDone));
    for (std::size_t i = 0; i < n && i < iv.v.size(); ++i)
      Row(out, {std::to_string(r.number), CsvNumber(iv.v[i]), CsvNumber(iv.j[i]), CsvNumber(iv.jbulk[i]),
                CsvNumber(iv.jifr[i]), CsvNumber(iv.js_n[i]), CsvNumber(iv.js_p[i]), CsvNumber(iv.jSRH[i]),
                CsvNumber(iv.jRadiative[i]), CsvNumber(iv.jAuger[i])});
  }
  return out;
}

namespace {

// The rows of one sweep kind over every record that holds it: `columns(record, i)` gives the
// fields of calculated point i after the simulation number.
template <class Result, class Columns>
std::string SweepCsv(const std::list<SimulationRecord>& records, const char* heading, Result SimulationRecord::*result,
                     Columns&& columns) {
  std::string out;
  for (const SimulationRecord& r : records) {
    const Result& sweep = r.*result;
    if (!sweep.present) continue;
    if (out.empty()) out = heading;
    for (int i = 0; i < sweep.pointsDone; ++i) {
      std::vector<std::string> fields{std::to_string(r.number)};
      for (double v : columns(sweep, static_cast<std::size_t>(i))) fields.push_back(CsvNumber(v));
      Row(out, fields);
    }
  }
  return out;
}

double At(const std::vector<double>& a, std::size_t i) { return i < a.size() ? a[i] : std::nan(""); }

}  // namespace

std::string CVCsv(const std::list<SimulationRecord>& records) {
  return SweepCsv(records,
                  "simulation,V (V),C (nF/cm2),G (S/cm2),W (um),Napp (/cm3),J_tot (mA/cm2),J_bulk (mA/cm2),"
                  "J_ifr (mA/cm2),Js_n (mA/cm2),Js_p (mA/cm2)\n",
                  &SimulationRecord::cv, [](const CVResult& c, std::size_t i) {
                    return std::vector<double>{At(c.v, i),      At(c.C, i),     At(c.G, i),     At(c.W, i),
                                               At(c.Napp, i),   At(c.jtot, i),  At(c.jbulk, i), At(c.jifr, i),
                                               At(c.jopp_n, i), At(c.jopp_p, i)};
                  });
}

std::string CfCsv(const std::list<SimulationRecord>& records) {
  return SweepCsv(records,
                  "simulation,f (Hz),C (nF/cm2),G (S/cm2),Z_re (ohm cm2),Z_im (ohm cm2),|Z| (ohm cm2),"
                  "Z_phase (degrees)\n",
                  &SimulationRecord::cf, [](const CfResult& c, std::size_t i) {
                    return std::vector<double>{At(c.f, i),   At(c.C, i),     At(c.G, i),     At(c.Zre, i),
                                               At(c.Zim, i), At(c.Zmagn, i), At(c.Zphase, i)};
                  });
}

std::string QECsv(const std::list<SimulationRecord>& records) {
  return SweepCsv(records, "simulation,lambda (nm),QE (%),photon energy (eV)\n", &SimulationRecord::qe,
                  [](const QEResult& q, std::size_t i) {
                    return std::vector<double>{At(q.lambda, i), At(q.QE, i), At(q.photonEnergy, i)};
                  });
}

std::string BandDiagramCsv(const BandDiagramProfiles& b) {
  std::string out =
      "layer,i,x (um),Ec (eV),Fn (eV),Fp (eV),Ev (eV),n (/cm3),p (/cm3),rho_defect (/cm3),net doping (/cm3),"
      "rho (/cm3),E (V/cm),jn (mA/cm2),jp (mA/cm2),jn_tunnel (mA/cm2),jp_tunnel (mA/cm2),jtot (mA/cm2),"
      "generation (/cm3s),recombination (/cm3s),cumulative generation (mA/cm2),"
      "cumulative recombination (mA/cm2)\n";
  for (int l = 0; l < b.nlayers && l < MAXLAYERS; ++l)
    for (int i = b.first[static_cast<std::size_t>(l)]; i <= b.last[static_cast<std::size_t>(l)] && i < b.N; ++i) {
      const std::size_t k = static_cast<std::size_t>(i);
      Row(out,
          {std::to_string(l + 1),    std::to_string(i),         CsvNumber(b.x[k]),         CsvNumber(b.Ec[k]),
           CsvNumber(b.Fn[k]),       CsvNumber(b.Fp[k]),        CsvNumber(b.Ev[k]),        CsvNumber(b.n[k]),
           CsvNumber(b.p[k]),        CsvNumber(b.rhoDefect[k]), CsvNumber(b.netDoping[k]), CsvNumber(b.rho[k]),
           CsvNumber(b.E[k]),        CsvNumber(b.jn[k]),        CsvNumber(b.jp[k]),        CsvNumber(b.jnTunnel[k]),
           CsvNumber(b.jpTunnel[k]), CsvNumber(b.jtot[k]),      CsvNumber(b.G[k]),         CsvNumber(b.R[k]),
           CsvNumber(b.cumG[k]),     CsvNumber(b.cumR[k])});
    }
  return out;
}

std::string TabTableToCsv(std::string_view table) {
  std::string out;
  std::size_t columns = 0;
  std::size_t pos = 0;
  while (pos < table.size()) {
    std::size_t end = table.find('\n', pos);
    if (end == std::string_view::npos) end = table.size();
    std::string_view line = table.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // Each field is followed by a tab; the last tab ends the row.
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (start < line.size()) {
      std::size_t tab = line.find('\t', start);
      if (tab == std::string_view::npos) tab = line.size();
      fields.push_back(Trim(line.substr(start, tab - start)));
      start = tab + 1;
    }
    while (!fields.empty() && fields.back().empty()) fields.pop_back();
    if (fields.empty()) continue;
    // The first line of two fields or more holds the titles (lines before it describe the
    // table); a row of another width does not belong to the table.
    if (columns == 0) {
      if (fields.size() < 2) continue;
      columns = fields.size();
    }
    if (fields.size() != columns) continue;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i > 0) out += ',';
      out += CsvField(Ascii(fields[i]));
    }
    out += '\n';
  }
  return out;
}

}  // namespace zoniq
