// The qdbf program: the command line into qd::qdbf::Run.
#include <iostream>
#include <string>
#include <vector>

#include "qdbf.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  const int status = qd::qdbf::Run(args, std::cout, std::cerr);
  std::cout.flush();
  return status;
}
