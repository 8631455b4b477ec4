// One list file of data files. The folder of the input holds a few valid
// data files under short names for the list to name.
#include <fstream>

#include "survey_pipeline.hpp"

namespace {

const char* const kWenner = "Wenner simple\n2.0\n1\n2\n0\n0\n10.0 2.0 100.0\n12.0 2.0 110.0\n0\n";
const char* const kGeneral =
    "general\n1.0\n11\n3\nType of measurement (0=app. resistivity,1=resistance)\n0\n2\n1\n0\n"
    "4 1 0 2 0 3 0 4 0 95\n4 2 0 3 0 4 0 5 0 105\n2\n1 0\n5 0.5\n";
const char* const kCeg =
    "Survey Type: DCR2D\nProfile Name: l\nArray Type: Wenner\nElectrode Spacing: 1\n"
    "Number of Data: 1\nNumber of Electrode: 4\nRho Type: Resistivity\nIP Include: No\n"
    "Error Include: No\nPosition Type: AS\nData Pattern: EC1 EC2 EP1 EP2 Rho\n\nElectrodes\n"
    "1 0 0\n2 3 0\n3 1 0\n4 2 0\n\nList\n1 2 3 4 100\n";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string& dir = varnel_fuzz::work_dir();
  std::ofstream(dir + "/a.dat") << kWenner;
  std::ofstream(dir + "/b.dat") << kGeneral;
  std::ofstream(dir + "/c.ceg") << kCeg;
  // The names in the list are relative to the folder of the job.
  std::filesystem::current_path(dir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = varnel_fuzz::write_input(data, size, "input.lst");
  return varnel_fuzz::run_one([&] { varnel_fuzz::survey_pipeline(path); });
}
