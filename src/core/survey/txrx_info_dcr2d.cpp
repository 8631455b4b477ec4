#include "core/survey/txrx_info_dcr2d.hpp"

#include <cmath>
#include <cstddef>
#include <limits>
#include <sstream>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "core/error.hpp"
#include "core/survey/extract_dcr2d_electrode_position.hpp"
#include "core/survey/param_dcr2d.hpp"

namespace varnel::txrx_info_dcr2d {

namespace {

namespace ep = extract_dcr2d_electrode_position;
using Pos = std::array<double, 2>;
using Position_ids = std::unordered_map<Pos, int32_t, ep::Position_hash>;
using Position_set = std::unordered_set<Pos, ep::Position_hash>;

// Depth of every current source below its electrode.
constexpr double source_depth = 1.0e-10;

bool has_nan(const Pos& p) { return std::isnan(p[0]) || std::isnan(p[1]); }

std::string number_text(double v) {
  std::ostringstream o;
  o.precision(15);
  o << v;
  return o.str();
}

std::string position_text(const Pos& p) {
  return "(" + number_text(p[0]) + ", " + number_text(p[1]) + ")";
}

std::string slot_name(int slot, int nc) {
  return slot <= nc ? "C" + std::to_string(slot) : "P" + std::to_string(slot - nc);
}

// The electrodes of the data of one file: slot 1 .. nc are the current
// electrodes, nc + 1 .. nc + np the potential electrodes; at() gives the file
// coordinates (x, z) of slot `slot` of datum i.
class Dat_electrodes {
 public:
  explicit Dat_electrodes(const Dat& d)
      : d_(d), nc_(param_dcr2d::celec(d.arraytype)), np_(param_dcr2d::nelec(d.arraytype) - nc_) {
    const int ne = nc_ + np_;
    if (d.nodata < 0)
      fail("DAT file " + d.filename + ": negative number of data " + std::to_string(d.nodata));
    if (d.nodata > 0 && ne > 0 && (d.rawdata.rows() < d.nodata || d.rawdata.cols() < 1 + 2 * ne))
      fail("DAT file " + d.filename + ": data rows of " + std::to_string(d.rawdata.rows()) + " x " +
           std::to_string(d.rawdata.cols()) + " values cannot hold " + std::to_string(d.nodata) +
           " data of " + std::to_string(ne) + " electrodes");
  }
  int nc() const { return nc_; }
  int np() const { return np_; }
  int nodata() const { return d_.nodata; }
  const std::string& filename() const { return d_.filename; }
  Pos at(int i, int slot) const { return {d_.rawdata(i, 2 * slot), d_.rawdata(i, 2 * slot + 1)}; }

 private:
  const Dat& d_;
  int nc_, np_;
};

class Ceg_electrodes {
 public:
  explicit Ceg_electrodes(const Ceg& d)
      : d_(d), nc_(param_dcr2d::celec(d.arraytype)), np_(param_dcr2d::nelec(d.arraytype) - nc_) {
    if (d.nodata < 0)
      fail("CEG file " + d.filename + ": negative number of data " + std::to_string(d.nodata));
    const int roles[4] = {d.index_ec1, d.index_ec2, d.index_ep1, d.index_ep2};
    const char* words[4] = {"ec1", "ec2", "ep1", "ep2"};
    for (int slot = 1; slot <= nc_ + np_; ++slot) {
      const int role = slot <= nc_ ? slot - 1 : 2 + (slot - nc_ - 1);
      column_[slot - 1] = roles[role];
      if (d.nodata > 0 && (roles[role] < 1 || roles[role] > d.rawdata.cols()))
        fail("CEG file " + d.filename + ": array type " + std::to_string(d.arraytype) +
             " needs the " + words[role] + " column, which the data rows do not have");
    }
    if (d.nodata > 0 && nc_ + np_ > 0 && d.rawdata.rows() < d.nodata)
      fail("CEG file " + d.filename + ": " + std::to_string(d.rawdata.rows()) + " data rows for " +
           std::to_string(d.nodata) + " data");
    if (d.electrode_position.rows() > 0 && d.electrode_position.cols() < 3)
      fail("CEG file " + d.filename + ": the electrode list needs 3 columns (number, x, z)");
  }
  int nc() const { return nc_; }
  int np() const { return np_; }
  int nodata() const { return d_.nodata; }
  const std::string& filename() const { return d_.filename; }
  Pos at(int i, int slot) const {
    const double number = d_.rawdata(i, column_[slot - 1]);
    const int nlist = d_.electrode_position.rows();
    // Truncated toward zero; 0.5 names no line, neither does NaN.
    if (!(number >= 1.0 && number < static_cast<double>(nlist) + 1.0))
      fail("CEG file " + d_.filename + ", datum " + std::to_string(i) + ": electrode " +
           slot_name(slot, nc_) + " number " + number_text(number) +
           " is not a line of the electrode list (1.." + std::to_string(nlist) + ")");
    const int k = static_cast<int>(number);
    return {d_.electrode_position(k, 2), d_.electrode_position(k, 3)};
  }

 private:
  const Ceg& d_;
  int nc_, np_;
  int column_[4] = {0, 0, 0, 0};
};

void build_table(Dat& d) { ep::electrode_position_dcr2d_dat(d); }
void build_table(Ceg& d) { ep::electrode_position_dcr2d_ceg(d); }
void size_vectors(Dat& d) { ascii_dcr2d_dat_datafile::setup_dat_data_vector_dcr2d(d); }
void size_vectors(Ceg& d) { ascii_dcr2d_ceg_datafile::setup_ceg_data_vector_dcr2d(d); }
void state_flags(const Dmatrix& pelec, Array2<uint8_t>& txrx_state, int32_t noelec, const Dat& d) {
  compute_txrx_state_dcr2d_dat(pelec, txrx_state, noelec, d);
}
void state_flags(const Dmatrix& pelec, Array2<uint8_t>& txrx_state, int32_t noelec, const Ceg& d) {
  compute_txrx_state_dcr2d_ceg(pelec, txrx_state, noelec, d);
}

template <class Electrodes>
void set_state_flags(const Dmatrix& pelec, Array2<uint8_t>& txrx_state, int32_t noelec,
                     const Electrodes& el) {
  if (noelec <= 0) return;
  if (pelec.rows() < noelec || pelec.cols() < 4)
    fail("compute_txrx_state: electrode table of " + std::to_string(pelec.rows()) + " x " +
         std::to_string(pelec.cols()) + " values for " + std::to_string(noelec) +
         " electrodes of 4 columns");
  if (txrx_state.rows() < 2 || txrx_state.cols() < noelec)
    fail("compute_txrx_state: flags of " + std::to_string(txrx_state.rows()) + " x " +
         std::to_string(txrx_state.cols()) + " for " + std::to_string(noelec) + " electrodes");
  Position_set current, potential;
  for (int i = 1; i <= el.nodata(); ++i) {
    for (int slot = 1; slot <= el.nc() + el.np(); ++slot) {
      const Pos p = el.at(i, slot);
      if (!has_nan(p)) (slot <= el.nc() ? current : potential).insert(p);
    }
  }
  for (int e = 1; e <= noelec; ++e) {
    const Pos p{pelec(e, 3), pelec(e, 4)};
    if (current.count(p) != 0) txrx_state(1, e) = 1;
    if (potential.count(p) != 0) txrx_state(2, e) = 1;
  }
}

// Exact position-to-identifier map on xyz_original (mode 2); the last entry
// of equal positions wins, as in the dictionaries' own lookup.
template <class Dict>
Position_ids original_position_ids(const Dict& dict) {
  Position_ids ids(dict.size() * 2);
  for (const auto& entry : dict)
    if (!has_nan(entry.xyz_original)) ids[entry.xyz_original] = entry.id;
  return ids;
}

template <class Electrodes>
void set_datum_ids(const Electrodes& el, const Position_ids& tx_ids, const Position_ids& rx_ids,
                   Imatrix& tx_index, Imatrix& rx_index) {
  if (el.nodata() > 0 &&
      ((el.nc() > 0 && (tx_index.rows() < el.nc() || tx_index.cols() < el.nodata())) ||
       (el.np() > 0 && (rx_index.rows() < el.np() || rx_index.cols() < el.nodata()))))
    fail("file " + el.filename() + ": identifier arrays are not sized for " +
         std::to_string(el.nodata()) + " data");
  auto lookup = [&](int i, int slot) {
    const bool is_tx = slot <= el.nc();
    const Position_ids& ids = is_tx ? tx_ids : rx_ids;
    const Pos p = el.at(i, slot);
    const auto it = ids.find(p);
    if (it == ids.end())
      fail("file " + el.filename() + ", datum " + std::to_string(i) + ": electrode " +
           slot_name(slot, el.nc()) + " at " + position_text(p) + " has no " +
           (is_tx ? "transmitter" : "receiver") + " identifier");
    return it->second;
  };
  for (int i = 1; i <= el.nodata(); ++i) {
    for (int j = 1; j <= el.nc(); ++j) tx_index(j, i) = lookup(i, j);
    for (int j = 1; j <= el.np(); ++j) rx_index(j, i) = lookup(i, el.nc() + j);
  }
}

template <class Rec, class Electrodes>
void setup_alldict(std::vector<Rec>& files, Txrx_info_state& state, bool receivers_first) {
  // 1. Electrode tables of the files, stacked in file order.
  int total = 0;
  for (Rec& d : files) {
    build_table(d);
    total += d.pelec.rows();
  }
  Dmatrix stacked(total, 4);
  int r = 0;
  for (const Rec& d : files) {
    if (d.pelec.rows() > 0 && d.pelec.cols() != 4)
      fail("file " + d.filename + ": electrode table has " + std::to_string(d.pelec.cols()) +
           " columns instead of 4");
    for (int i = 1; i <= d.pelec.rows(); ++i) {
      ++r;
      for (int k = 1; k <= 4; ++k) stacked(r, k) = d.pelec(i, k);
    }
  }

  // 2. The merged table.
  state.pelec_dcr2d = ep::unique_rows_fast(stacked, 1);
  const int n = state.pelec_dcr2d.rows();

  // 3. Role flags, the union over all files.
  state.txrx_state.assign(2, n, 0);
  for (const Rec& d : files) state_flags(state.pelec_dcr2d, state.txrx_state, n, d);

  // 4. Dictionaries, one entry per flagged electrode in electrode order.
  auto install_tx = [&] {
    std::vector<int32_t> ids;
    for (int e = 1; e <= n; ++e)
      if (state.txrx_state(1, e) != 0) ids.push_back(e);
    Dmatrix tx(5, static_cast<int>(ids.size()));
    for (int c = 1; c <= tx.cols(); ++c) {
      const int e = ids[c - 1];
      tx(1, c) = source_depth;
      for (int k = 1; k <= 4; ++k) tx(k + 1, c) = state.pelec_dcr2d(e, k);
    }
    txtypes_dcr2d::setup_txdict_dcr2d(state.txdict_dcr2d, tx.cols(), tx, &ids);
  };
  auto install_rx = [&] {
    std::vector<int32_t> ids;
    for (int e = 1; e <= n; ++e)
      if (state.txrx_state(2, e) != 0) ids.push_back(e);
    Dmatrix rx(4, static_cast<int>(ids.size()));
    for (int c = 1; c <= rx.cols(); ++c)
      for (int k = 1; k <= 4; ++k) rx(k, c) = state.pelec_dcr2d(ids[c - 1], k);
    rxtypes_dcr2d::setup_rxdict_dcr2d(state.rxdict_dcr2d, rx.cols(), rx, &ids);
  };
  if (receivers_first) {
    install_rx();
    install_tx();
  } else {
    install_tx();
    install_rx();
  }

  // 5. Per-datum vectors and identifiers.
  const Position_ids tx_ids = original_position_ids(state.txdict_dcr2d);
  const Position_ids rx_ids = original_position_ids(state.rxdict_dcr2d);
  for (Rec& d : files) {
    size_vectors(d);
    set_datum_ids(Electrodes(d), tx_ids, rx_ids, d.tx_index, d.rx_index);
  }
}

template <class Rec>
void nlevel_cal(Rec& d, const Txrx_info_state& state) {
  const int nd = d.nodata;
  if (nd < 0) fail("file " + d.filename + ": negative number of data " + std::to_string(nd));
  d.level.assign(static_cast<std::size_t>(nd), 0);
  if (nd == 0) return;

  int tx_slot = 0;
  switch (d.arraytype) {
    case 1:
    case 2:
    case 4:
    case 5:
    case 6:
    case 7:
      tx_slot = 1;
      break;
    case 3:
      if (d.tx_index.rows() < 2 || d.tx_index.cols() < 1)
        fail("file " + d.filename + ": no current identifiers for the levels");
      tx_slot = d.tx_index(2, 1) < d.tx_index(1, 1) ? 1 : 2;
      break;
    default:
      return;
  }
  if (d.tx_index.rows() < tx_slot || d.tx_index.cols() < nd || d.rx_index.rows() < 1 ||
      d.rx_index.cols() < nd)
    fail("file " + d.filename + ": no electrode identifiers for the levels of " +
         std::to_string(nd) + " data");

  const Original_positions tx_pos(state.txdict_dcr2d);
  const Original_positions rx_pos(state.rxdict_dcr2d);
  constexpr double int_limit = 2147483648.0;  // 2^31
  for (int i = 1; i <= nd; ++i) {
    const Pos c = tx_pos(d.tx_index(tx_slot, i));
    const Pos p = rx_pos(d.rx_index(1, i));
    const double dx = c[0] - p[0];
    const double dz = c[1] - p[1];
    const double q = std::sqrt(dx * dx + dz * dz) / d.espacing;
    if (std::isfinite(q) && q > -int_limit && q < int_limit)
      d.level[i - 1] = static_cast<int32_t>(q);  // truncation toward zero
  }
}

template <class Rec>
void compute_topo(Rec& d) {
  if (d.ntopo < 0)
    fail("file " + d.filename + ": negative number of topography points " +
         std::to_string(d.ntopo));
  if (d.ntopo == 0) {
    d.topo = d.pelec;
    d.ntopo = d.noelec;
    return;
  }
  if (d.topo.rows() < d.ntopo || d.topo.cols() < 2)
    fail("file " + d.filename + ": topography of " + std::to_string(d.topo.rows()) + " x " +
         std::to_string(d.topo.cols()) + " values for " + std::to_string(d.ntopo) +
         " points (x, z)");
  if (d.pelec.rows() > 0 && d.pelec.cols() != 4)
    fail("file " + d.filename + ": electrode table has " + std::to_string(d.pelec.cols()) +
         " columns instead of 4");

  Dmatrix points(d.ntopo, 2);
  for (int i = 1; i <= d.ntopo; ++i) {
    points(i, 1) = d.topo(i, 1);
    points(i, 2) = d.topo(i, 2);
  }
  ep::adjust_position_dcr2d(points, d.x_position_type);

  Dmatrix all(d.ntopo + d.pelec.rows(), 4);
  for (int i = 1; i <= d.ntopo; ++i)
    for (int k = 1; k <= 4; ++k) all(i, k) = points(i, k);
  for (int i = 1; i <= d.pelec.rows(); ++i)
    for (int k = 1; k <= 4; ++k) all(d.ntopo + i, k) = d.pelec(i, k);

  d.topo = ep::unique_rows_fast(all, 3);
  d.ntopo = d.topo.rows();
}

}  // namespace

Original_positions::Original_positions(const txtypes_dcr2d::Txdict& txdict) : txdict_(&txdict) {
  by_id_.reserve(txdict.size());
  for (const auto& tx : txdict) by_id_[tx.id] = tx.xyz_original;
}

Original_positions::Original_positions(const rxtypes_dcr2d::Rxdict& rxdict) : rxdict_(&rxdict) {
  by_id_.reserve(rxdict.size());
  for (const auto& rx : rxdict) by_id_[rx.id] = rx.xyz_original;
}

std::array<double, 2> Original_positions::operator()(int32_t id) const {
  const auto it = by_id_.find(id);
  if (it != by_id_.end() && !has_nan(it->second)) return it->second;
  // Unknown (or NaN) position: the dictionary's lookup reports it.
  if (txdict_ != nullptr) return txtypes_dcr2d::tx_id_to_position_dcr2d(*txdict_, id, 2);
  return rxtypes_dcr2d::rx_id_to_position_dcr2d(*rxdict_, id, 2);
}

void setup_alldict_dcr2d_dat_file(std::vector<Dat>& files, Txrx_info_state& state) {
  setup_alldict<Dat, Dat_electrodes>(files, state, false);
}

void setup_alldict_dcr2d_ceg_file(std::vector<Ceg>& files, Txrx_info_state& state) {
  setup_alldict<Ceg, Ceg_electrodes>(files, state, true);
}

void compute_txrx_state_dcr2d_dat(const Dmatrix& pelec, Array2<uint8_t>& txrx_state, int32_t noelec,
                                  const Dat& d) {
  if (d.data_format != 11) return;
  set_state_flags(pelec, txrx_state, noelec, Dat_electrodes(d));
}

void compute_txrx_state_dcr2d_ceg(const Dmatrix& pelec, Array2<uint8_t>& txrx_state, int32_t noelec,
                                  const Ceg& d) {
  set_state_flags(pelec, txrx_state, noelec, Ceg_electrodes(d));
}

void nlevel_cal_dcr2d_dat_file(Dat& d, const Txrx_info_state& state) { nlevel_cal(d, state); }
void nlevel_cal_dcr2d_ceg_file(Ceg& d, const Txrx_info_state& state) { nlevel_cal(d, state); }

void compute_topo_dat_dcr2d(Dat& d) { compute_topo(d); }
void compute_topo_ceg_dcr2d(Ceg& d) { compute_topo(d); }

}  // namespace varnel::txrx_info_dcr2d
