// A dense two-dimensional array stored column-major, addressed with 1-based
// (row, column) indices as the formulas of the solvers are written. Column-major
// storage lets a matrix go to LAPACK and BLAS as it is.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace varnel {

template <class T>
class Array2 {
 public:
  Array2() = default;
  Array2(int nrow, int ncol, T fill = T{})
      : nrow_(nrow), ncol_(ncol), data_(static_cast<std::size_t>(nrow) * ncol, fill) {}

  int rows() const { return nrow_; }
  int cols() const { return ncol_; }
  std::size_t size() const { return data_.size(); }
  bool empty() const { return data_.empty(); }

  // Entry (i, j), 1-based.
  T& operator()(int i, int j) {
    assert(i >= 1 && i <= nrow_ && j >= 1 && j <= ncol_);
    return data_[static_cast<std::size_t>(j - 1) * nrow_ + (i - 1)];
  }
  const T& operator()(int i, int j) const {
    assert(i >= 1 && i <= nrow_ && j >= 1 && j <= ncol_);
    return data_[static_cast<std::size_t>(j - 1) * nrow_ + (i - 1)];
  }

  // Column-major storage, leading dimension rows().
  T* data() { return data_.data(); }
  const T* data() const { return data_.data(); }
  const std::vector<T>& storage() const { return data_; }

  // Reshapes to nrow x ncol, discarding the content.
  void assign(int nrow, int ncol, T fill = T{}) {
    nrow_ = nrow;
    ncol_ = ncol;
    data_.assign(static_cast<std::size_t>(nrow) * ncol, fill);
  }
  void clear() { assign(0, 0); }

  friend bool operator==(const Array2& a, const Array2& b) {
    return a.nrow_ == b.nrow_ && a.ncol_ == b.ncol_ && a.data_ == b.data_;
  }

 private:
  int nrow_ = 0;
  int ncol_ = 0;
  std::vector<T> data_;
};

using Dmatrix = Array2<double>;
using Imatrix = Array2<int32_t>;

}  // namespace varnel
