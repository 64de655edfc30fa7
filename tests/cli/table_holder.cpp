// Holds a table open as another program would, for qdbf's tests: opens the
// table shared, prints "open" and waits until its standard input closes.
//   qdbf_table_holder <table>
#include <cstdio>
#include <iostream>
#include <string>

#include "foundation/errors.h"
#include "table/work_areas.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  qd::ImmediateDispatch = false;
  qd::Use(argv[1], nullptr, 0);
  if (qd::ErrorCode != 0) return 3;
  std::cout << "open" << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  qd::Close();
  return 0;
}
