// Shared by the test suites: the message of the exception an action raises,
// so that a check of a failure's text takes one line. An exception of
// another type than E passes through and fails the test.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace qd::test_support {

template <typename E = std::exception>
std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const E& e) {
    return e.what();
  }
  return "(no exception)";
}

}  // namespace qd::test_support
