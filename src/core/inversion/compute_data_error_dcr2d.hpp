// Error floors of the data: the error of every datum is raised to a
// percentage of a reference value, uniform, per pseudo-section level or per
// datum. Errors are never lowered.
#pragma once

#include <string>

#include "core/numerics/array2.hpp"
#include "core/survey/dataio_dcr2d.hpp"

namespace varnel::compute_data_error_dcr2d {

using dataio_dcr2d::Main_data_dcr2d;

// d.err(i) = max(d.err(i), ref(i) * perror / 100) for every datum.
void cal_error_perror_uniform_dcr2d(const std::vector<double>& ref, Main_data_dcr2d& d,
                                    double perror);

// For every row j of the table (level, per cent), the floor ref(i) *
// perror(j, 2) / 100 for every datum whose level equals perror(j, 1). Data on
// no listed level keep their errors.
void cal_error_perror_level_dcr2d(const std::vector<double>& ref, Main_data_dcr2d& d,
                                  const Dmatrix& perror);

// Row i of the table (key ignored, per cent) gives the floor of datum i. A
// table with fewer rows than data ends the job; `table` names it in the
// message.
void cal_error_perror_data_dcr2d(const std::vector<double>& ref, Main_data_dcr2d& d,
                                 const Dmatrix& perror,
                                 const std::string& table = "the error table");

}  // namespace varnel::compute_data_error_dcr2d
