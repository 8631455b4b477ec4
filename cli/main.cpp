// varnel: the command-line host of the library. It turns the command line
// into the key/value block of the C interface, runs one job, shows progress on
// standard error and exits with the job's status code.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "varnel/varnel.h"

namespace {

struct Option_help {
  const char* key;
  const char* value;
  const char* meaning;
  const char* fallback;
};

// Every key the library understands, in the order of its option table.
constexpr Option_help option_help[] = {
    {"-d", "FILE", "data file (DAT or CEG) or a list file of several; required", "none"},
    {"-e", "PCT|FILE", "uniform error in per cent, or an error file", "none"},
    {"-r", "NAME", "response file to write (inversions add the iteration number); required",
     "none"},
    {"-m", "FILE", "model file: the prior and the initial model (forward: the model)", "none"},
    {"-m0", "FILE", "prior (reference) model file; in a forward run the model", "none"},
    {"-mi", "FILE", "initial model file of an inversion", "none"},
    {"-np", "N", "worker threads; 0 = number of processors, at most 12", "0"},
    {"-nx", "N", "grid subdivision of generated grids", "2"},
    {"-initial_rho", "OHMM", "resistivity of a generated start model; 0 = from the data", "0"},
    {"-update", "FILE", "model update file: elements the inversion may change", "none"},
    {"-timelapse", "MODE", "cascaded or difference (time-lapse inversion)", "cascaded"},
    {"-d0", "FILE", "reference data file of a difference inversion", "none"},
    {"-r0", "FILE", "response of the reference model to the reference data", "none"},
    {"-diffusion", "X", "parameter of the roughness (diffusion) operator", "4.0"},
    {"-jacobian", "WORD", "FULL = full sensitivity every iteration; else updates", "FULL"},
    {"-lambda", "X", "initial Lagrange multiplier (the value, not its logarithm)", "100"},
    {"-msub", "yes|no", "merge the cells below the electrode spread", "no"},
    {"-z_criteria", "M", "depth below the deepest electrode of that block; 0 = 2 spacings", "0"},
    {"-target", "X", "target RMS misfit", "1.0"},
    {"-approx", "fd|fe|hy", "forward solver", "hy"},
    {"-minlambda", "X", "base-10 logarithm of the smallest Lagrange multiplier", "-10"},
    {"-espacing", "M", "electrode spacing; 0 = from the data", "0"},
    {"-sgrid", "FILE", "grid coordinates for the generated inversion grid", "none"},
    {"-fixlambda", "yes|no", "use prescribed multipliers instead of the search", "no"},
    {"-maxiter", "N", "maximum number of iterations, 1 to 99", "20"},
    {"-prelambda", "FILE", "file of prescribed multipliers (sets -fixlambda yes)", "none"},
    {"-ndiverge", "N", "non-improving iterations tolerated before stopping", "1"},
    {"-pci", "yes|no", "pattern-constrained inversion", "no"},
    {"-pcisign", "plus|minus", "sign of the pattern constraint", "minus"},
    {"-rmtemp", "yes|no", "stored only", "yes"},
    {"-tlcutoff", "X", "stored only", "10.0"},
    {"-tlrepair", "yes|no", "stored only", "yes"},
    {"-plot", "yes|no", "stored only", "no"},
};

void print_help(std::FILE* out) {
  std::fprintf(out,
               "varnel %s: 2-D DC resistivity forward modelling and Occam inversion\n"
               "\n"
               "Usage:\n"
               "  varnel forward -d DATA -m MODEL -r RESPONSE [OPTIONS]\n"
               "  varnel invert  -d DATA -r RESPONSE [OPTIONS]\n"
               "  varnel --help | --version\n"
               "\n"
               "Options are key/value pairs; keys are case-insensitive.\n"
               "\n",
               VARNEL_VERSION);
  std::fprintf(out, "  %-13s %-11s %-9s %s\n", "key", "value", "default", "meaning");
  for (const auto& o : option_help)
    std::fprintf(out, "  %-13s %-11s %-9s %s\n", o.key, o.value, o.fallback, o.meaning);
  std::fprintf(out,
               "\n"
               "The log goes to standard output, progress to standard error.\n"
               "Exit status: 0 done; 1 request rejected; 2 initial and prior model grids\n"
               "differ; 3 trial models gave an undefined misfit too often; 4 library already\n"
               "used; 5 the job failed (the message says why); 64 bad command line.\n");
}

int32_t job_mode = VARNEL_MODE_INVERSION;

void show_progress(int32_t stage, int32_t iteration, double rms) {
  switch (stage) {
    case 0:
      std::fprintf(stderr, "varnel: started\n");
      break;
    case 1:
      std::fprintf(stderr, "varnel: initial model, RMS misfit %.4f\n", rms);
      break;
    case 2:
      std::fprintf(stderr, "varnel: iteration %d, RMS misfit %.4f\n", iteration, rms);
      break;
    case 3:
      if (job_mode == VARNEL_MODE_FORWARD)
        std::fprintf(stderr, "varnel: done, RMS misfit %.4f\n", rms);
      else
        std::fprintf(stderr, "varnel: done after iteration %d, RMS misfit %.4f\n", iteration,
                     rms);
      break;
    default:
      std::fprintf(stderr, "varnel: stage %d, iteration %d, RMS misfit %.4f\n", stage,
                   iteration, rms);
  }
  std::fflush(stderr);
}

int usage_error(const std::string& message) {
  std::fprintf(stderr, "varnel: %s\nTry 'varnel --help'.\n", message.c_str());
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage_error("no command given");
  const std::string_view command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    print_help(stdout);
    return 0;
  }
  if (command == "--version") {
    std::printf("varnel %s (ABI version %d)\n", VARNEL_VERSION, varnel_abi_version());
    return 0;
  }
  if (command == "forward")
    job_mode = VARNEL_MODE_FORWARD;
  else if (command == "invert")
    job_mode = VARNEL_MODE_INVERSION;
  else
    return usage_error("unknown command '" + std::string(command) + "'");

  const int nfields = argc - 2;
  for (int i = 2; i < argc; ++i)
    if (std::string_view(argv[i]) == "--help") {
      print_help(stdout);
      return 0;
    }
  if (nfields % 2 != 0)
    return usage_error("option '" + std::string(argv[argc - 1]) + "' has no value");
  std::vector<char> block(static_cast<std::size_t>(nfields) * VARNEL_FIELD_SIZE, '\0');
  for (int i = 0; i < nfields; ++i) {
    const char* text = argv[i + 2];
    const std::size_t len = std::strlen(text);
    if (len >= VARNEL_FIELD_SIZE)
      return usage_error("'" + std::string(text).substr(0, 40) + "...' is longer than " +
                         std::to_string(VARNEL_FIELD_SIZE - 1) + " characters");
    std::memcpy(block.data() + static_cast<std::size_t>(i) * VARNEL_FIELD_SIZE, text, len);
  }

  int32_t final_iteration = -1;
  const int32_t status = varnel_run(job_mode, nfields, block.data(), show_progress,
                                    &final_iteration);
  std::fflush(stdout);
  if (status == VARNEL_REJECTED || status == VARNEL_JOB_FAILED || status == VARNEL_ALREADY_USED) {
    const char* why = varnel_last_error();
    if (status == VARNEL_ALREADY_USED) why = "the library has already run a job in this process";
    std::fprintf(stderr, "varnel: %s%s\n", status == VARNEL_REJECTED ? "request rejected: " : "",
                 why);
  }
  return status;
}
