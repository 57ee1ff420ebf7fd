#pragma once
// One of the project's programs run to its end as a child process: its exit code, standard output
// and standard error, with the environment changed for it alone.

#include <string>
#include <vector>

namespace quorna::test {

struct ProgramRun {
    int code = -1;  // the exit code; -1 on a death by signal or a time-out (the child is then killed)
    std::string out;
    std::string err;
};

// Runs program with args. env: "NAME=value" sets NAME for the child, "-NAME" removes it.
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {}, int timeoutMs = 20000);

}  // namespace quorna::test
