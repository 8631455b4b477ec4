#include "core/survey/dataio_dcr2d.hpp"

#include <algorithm>
#include <iostream>

#include "core/error.hpp"
#include "core/numerics/matrix.hpp"
#include "core/numerics/string_utility.hpp"
#include "core/numerics/text_io.hpp"
#include "core/survey/data_factor_dcr2d.hpp"
#include "core/survey/data_filter_dcr2d.hpp"
#include "core/survey/param_dcr2d.hpp"

namespace varnel::dataio_dcr2d {

namespace {

using string_utility::rtrim;
using string_utility::strlowcase;

// The kind of a data file: the text after its last ".", folded to lower case.
std::string kind_of(std::string_view path) {
  const auto dot = path.rfind('.');
  if (dot == std::string_view::npos) return {};
  return strlowcase(rtrim(path.substr(dot + 1)));
}

// The list of data files and their kind. A single .dat or .ceg file is a list
// of one; anything else is read as a list file.
struct File_list {
  std::vector<std::string> paths;
  std::string ext;
};

File_list list_of_files(const std::string& datafile) {
  File_list list;
  const auto dot = datafile.rfind('.');
  if (dot != std::string::npos) {
    const std::string three = strlowcase(datafile.substr(dot + 1, 3));
    if (three == "dat" || three == "ceg") {
      list.paths.push_back(datafile);
      list.ext = three;
      return list;
    }
  }
  text_io::Free_reader in(datafile);
  std::string line;
  if (!in.read_line(line)) in.fail("expected the number of data files after a colon");
  line = line.substr(0, 100);
  const auto colon = line.find(':');
  int32_t n = 0;
  if (colon == std::string::npos || !text_io::parse_free_int(line.substr(colon + 1), n) || n < 1)
    in.fail("expected the number of data files after a colon, found \"" + std::string(rtrim(line)) +
            "\"");
  for (int32_t k = 1; k <= n; ++k) {
    if (!in.read_line(line))
      in.fail("the list names " + std::to_string(n) + " data files but ends after " +
              std::to_string(k - 1));
    const std::string path(rtrim(line.substr(0, 256)));
    const std::string kind = kind_of(path);
    if (kind != "dat" && kind != "ceg")
      in.fail("\"" + path + "\" is not a data file (expected a name ending in .dat or .ceg)");
    if (list.ext.empty()) list.ext = kind;
    if (kind != list.ext) {
      // Files of one list must be of one kind; the list ends at the first other.
      std::cout << "Data files are not consistence!!!" << std::endl;
      break;
    }
    list.paths.push_back(path);
  }
  return list;
}

template <class Record>
std::vector<Record>& slot(std::vector<Record>& main, std::vector<Record>& df,
                          std::vector<Record>& rf, std::string_view mode) {
  const std::string two = strlowcase(mode.substr(0, std::min<std::size_t>(2, mode.size())));
  if (two == "df") return df;
  if (two == "rf") return rf;
  return main;
}

template <class Record>
std::vector<Record> records_for(const File_list& list) {
  std::vector<Record> records(list.paths.size());
  for (std::size_t k = 0; k < records.size(); ++k) records[k].filename = list.paths[k];
  return records;
}

double min_of(const std::vector<double>& v) {
  return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
}

// Transfer resistances in ohms become the library's internal resistance: the
// solver's unit sources and the 2/pi of the inverse cosine transform give
// twice the physical transfer resistance (the geometric factor uses pi, not
// 2 pi, to match), so measured ohms are doubled on the way in and halved on
// the way out.
constexpr double kInternalPerOhm = 2.0;

// Apparent resistivities become resistances when every factor is positive.
template <class Record>
void to_resistance(Record& d) {
  if (d.measuretype == 1) {
    for (std::size_t i = 0; i < d.val.size(); ++i) {
      d.val[i] *= kInternalPerOhm;
      d.err[i] *= kInternalPerOhm;
    }
    return;
  }
  if (d.measuretype != 0 || d.geo_k.empty() || !(min_of(d.geo_k) > 0.0)) return;
  for (std::size_t i = 0; i < d.val.size(); ++i) {
    d.val[i] /= d.geo_k[i];
    d.err[i] /= d.geo_k[i];
  }
}

template <class Record>
void merge(Main_data_dcr2d& d, const std::vector<Record>& files) {
  int32_t nodata = 0, ntopo = 0;
  double spacing = 0.0;
  for (const auto& f : files) {
    nodata += f.nodata;
    ntopo += f.ntopo;
    spacing += f.espacing;
    if (f.tx_index.rows() != files.front().tx_index.rows() ||
        f.rx_index.rows() != files.front().rx_index.rows())
      fail(f.filename + ": its measurements use other electrode counts than those of " +
           files.front().filename + "; the files of one data set must agree");
  }
  d.nodata = nodata;
  d.x_position_type = files.front().x_position_type;
  d.nc = param_dcr2d::celec(files.back().arraytype);
  d.np = param_dcr2d::nelec(files.back().arraytype) - d.nc;
  d.val.assign(nodata, 0.0);
  d.err.assign(nodata, 0.0);
  d.geo_k.assign(nodata, 0.0);
  d.level.assign(nodata, 0);
  d.tx_index.assign(d.nc, nodata, 0);
  d.rx_index.assign(d.np, nodata, 0);
  int32_t at = 0;
  for (const auto& f : files) {
    for (int32_t i = 1; i <= f.nodata; ++i) {
      const int32_t j = at + i;
      d.val[j - 1] = f.val[i - 1];
      d.err[j - 1] = f.err[i - 1];
      d.geo_k[j - 1] = f.geo_k[i - 1];
      d.level[j - 1] = f.level[i - 1];
      for (int32_t r = 1; r <= d.nc; ++r) d.tx_index(r, j) = f.tx_index(r, i);
      for (int32_t r = 1; r <= d.np; ++r) d.rx_index(r, j) = f.rx_index(r, i);
    }
    at += f.nodata;
  }
  d.allocated = true;
  d.espacing = spacing / static_cast<double>(files.size());

  // Topography of all files: distinct rows ascending by the x of the files.
  Dmatrix stacked(ntopo, 4);
  int32_t row = 0;
  for (const auto& f : files)
    for (int32_t i = 1; i <= f.ntopo; ++i) {
      ++row;
      for (int32_t c = 1; c <= 4; ++c) stacked(row, c) = f.topo(i, c);
    }
  d.topo = ntopo > 0 ? matrix::unique_rank2(stacked, "ROW", 3) : Dmatrix(0, 4);
  d.ntopo = d.topo.rows();

  int32_t largest = 0;
  for (int32_t v : d.tx_index.storage()) largest = std::max(largest, v);
  for (int32_t v : d.rx_index.storage()) largest = std::max(largest, v);
  d.noelec = largest;
  if (min_of(d.geo_k) < 0.0) d.resistance = false;
}

template <class Record, class Read, class After_read, class Setup, class Filter, class Geo,
          class Level, class Vector, class Topo>
void read_all(Main_data_dcr2d& d, std::vector<Record>& files,
              txrx_info_dcr2d::Txrx_info_state& txrx, Read read, After_read after_read, Setup setup,
              Filter filter, Geo geo, Level level, Vector vector, Topo topo) {
  for (auto& f : files) {
    read(f);
    after_read(f);
    filter(f);
  }
  setup(files, txrx);
  for (auto& f : files) {
    level(f, txrx);
    geo(f, txrx.txdict_dcr2d, txrx.rxdict_dcr2d);
    vector(f);
    topo(f);
  }
  merge(d, files);
}

void check_not_empty(const Main_data_dcr2d& d, const std::string& datafile) {
  if (d.nodata == 0)
    fail(datafile + ": no usable data (every value is zero or negative, or the file lists none)");
}

std::string stem(const std::string& p) {
  const auto dot = p.rfind('.');
  return dot == std::string::npos ? p : p.substr(0, dot);
}

}  // namespace

void create_dat_data_vector_dcr2d(Dat& d) {
  const int32_t column = d.ncomp - d.ip_flag;
  d.val.assign(d.nodata, 0.0);
  d.err.assign(d.nodata, 0.0);
  for (int32_t i = 1; i <= d.nodata; ++i) {
    d.val[i - 1] = d.rawdata(i, column);
    d.err[i - 1] = d.val[i - 1] / 100.0;
  }
  to_resistance(d);
}

void create_ceg_data_vector_dcr2d(Ceg& d) {
  d.val.assign(d.nodata, 0.0);
  d.err.assign(d.nodata, 0.0);
  const bool with_error = rtrim(strlowcase(d.error_include)) == "yes" && d.index_rho_error > 0;
  for (int32_t i = 1; i <= d.nodata; ++i) {
    d.val[i - 1] = d.rawdata(i, d.index_rho_data);
    if (with_error) d.err[i - 1] = d.rawdata(i, d.index_rho_error);
  }
  to_resistance(d);
}

void merge_dat_data_vector_dcr2d(Main_data_dcr2d& d, const std::vector<Dat>& d_ref) {
  merge(d, d_ref);
}

void merge_ceg_data_vector_dcr2d(Main_data_dcr2d& d, const std::vector<Ceg>& d_ref) {
  merge(d, d_ref);
}

void read_dcr2d_datafile(Main_data_dcr2d& d, const std::string& datafile, Dataio_state& io,
                         txrx_info_dcr2d::Txrx_info_state& txrx, std::string_view mode) {
  const File_list list = list_of_files(datafile);
  d.ext = list.ext;
  if (list.ext == "dat") {
    auto& files = slot(io.d_dat, io.d0_dat, io.r0_dat, mode);
    files = records_for<Dat>(list);
    read_all(
        d, files, txrx, ascii_dcr2d_dat_datafile::read_dcr2d_dat_datafile, [](Dat&) {},
        txrx_info_dcr2d::setup_alldict_dcr2d_dat_file,
        data_filter_dcr2d::negative_filter_dcr2d_dat_file, data_factor_dcr2d::cal_geo_k_dat_dcr2d,
        txrx_info_dcr2d::nlevel_cal_dcr2d_dat_file, create_dat_data_vector_dcr2d,
        txrx_info_dcr2d::compute_topo_dat_dcr2d);
  } else {
    auto& files = slot(io.d_ceg, io.d0_ceg, io.r0_ceg, mode);
    files = records_for<Ceg>(list);
    read_all(d, files, txrx, ascii_dcr2d_ceg_datafile::read_dcr2d_ceg_datafile,
             ascii_dcr2d_ceg_datafile::extract_dcr2d_ceg_datafile,
             txrx_info_dcr2d::setup_alldict_dcr2d_ceg_file,
             data_filter_dcr2d::negative_filter_dcr2d_ceg_file,
             data_factor_dcr2d::cal_geo_k_ceg_dcr2d, txrx_info_dcr2d::nlevel_cal_dcr2d_ceg_file,
             create_ceg_data_vector_dcr2d, txrx_info_dcr2d::compute_topo_ceg_dcr2d);
  }
  check_not_empty(d, datafile);
}

std::string response_file_name(const std::string& datafile, const std::string& rf, int32_t mode,
                               int32_t k, const std::string& ext) {
  const std::string r(rtrim(rf));
  const std::string dot_ext = "." + ext;
  if (mode == 1) return stem(datafile) + "_" + stem(r) + dot_ext;
  if (mode == 2) return stem(datafile) + "_" + r + dot_ext;
  const std::string number = std::to_string(k);
  const auto slash = r.rfind('/');
  const auto underscore = r.rfind('_');
  // "./" alone at the start does not make a folder part.
  if (slash != std::string::npos && slash != 1 && underscore != std::string::npos &&
      underscore > slash)
    return r.substr(0, underscore + 1) + number + r.substr(underscore) + dot_ext;
  return r + "_" + number + dot_ext;
}

namespace {

template <class Record>
std::vector<Record> response_templates(const Main_data_dcr2d& d, const std::vector<Record>& files,
                                       bool with_error) {
  std::vector<Record> out = files;
  const bool to_apparent = !d.geo_k.empty() && min_of(d.geo_k) > 0.0;
  int32_t at = 0;
  for (auto& f : out) {
    if (at + f.nodata > static_cast<int32_t>(d.val.size()))
      fail("internal error: the response holds fewer values than the data files");
    for (int32_t i = 0; i < f.nodata; ++i) {
      f.val[i] = d.val[at + i];
      if (with_error) f.err[i] = d.err[at + i];
      if (f.measuretype == 0 && to_apparent) {
        f.val[i] *= f.geo_k[i];
        if (with_error) f.err[i] *= f.geo_k[i];
      } else if (f.measuretype == 1) {
        f.val[i] /= kInternalPerOhm;
        if (with_error) f.err[i] /= kInternalPerOhm;
      }
    }
    at += f.nodata;
  }
  return out;
}

}  // namespace

void write_dcr2d_datafile(const Main_data_dcr2d& d, const std::string& rf, int32_t mode,
                          const Dataio_state& io, const txrx_info_dcr2d::Txrx_info_state& txrx) {
  if (d.ext == "ceg") {
    const auto out = response_templates(d, io.d_ceg, true);
    for (std::size_t k = 0; k < out.size(); ++k)
      ascii_dcr2d_ceg_datafile::write_dcr2d_ceg_datafile(
          out[k],
          response_file_name(out[k].filename, rf, mode, static_cast<int32_t>(k) + 1, "ceg"));
    return;
  }
  const auto out = response_templates(d, io.d_dat, false);
  for (std::size_t k = 0; k < out.size(); ++k)
    ascii_dcr2d_dat_datafile::write_dcr2d_dat_datafile(
        out[k], response_file_name(out[k].filename, rf, mode, static_cast<int32_t>(k) + 1, "dat"),
        txrx.txdict_dcr2d, txrx.rxdict_dcr2d);
}

}  // namespace varnel::dataio_dcr2d
