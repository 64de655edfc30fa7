// The qdbf program: the command line into qd::qdbf::Run.
#include <iostream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "qdbf.h"

int main(int argc, char** argv) {
  qd::platform::PrepareUtf8Console();
  std::ios::sync_with_stdio(false);
  const int status = qd::qdbf::Run(qd::platform::ProgramArguments(argc, argv), std::cout, std::cerr);
  std::cout.flush();
  return status;
}
