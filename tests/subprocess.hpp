// Runs a program as a child process and collects its exit status, standard
// output and standard error.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace varnel_test {

struct Child_result {
  int exit_code = -1;  // -1 when the child did not exit normally
  int signal = 0;      // the signal that ended it, 0 if none
  std::string out;
  std::string err;
};

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs `program` with `args` in `workdir` (the current directory when empty).
inline Child_result run_child(const std::string& program, const std::vector<std::string>& args,
                              const std::string& workdir = "") {
  char out_name[] = "/tmp/varnel_child_out_XXXXXX";
  char err_name[] = "/tmp/varnel_child_err_XXXXXX";
  const int out_fd = mkstemp(out_name);
  const int err_fd = mkstemp(err_name);
  Child_result r;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    if (!workdir.empty() && chdir(workdir.c_str()) != 0) _exit(127);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  close(out_fd);
  close(err_fd);
  r.out = slurp(out_name);
  r.err = slurp(err_name);
  std::remove(out_name);
  std::remove(err_name);
  return r;
}

}  // namespace varnel_test
