// Helpers for the transport tests: catching a TransportException as a value.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "errors/loggable_exceptions.h"

namespace dktest {

struct TransportFailure {
  bool raised = false;
  int status = -1;
  std::string text;  // what() of the exception
};

// Runs `body` and reports the TransportException it raised; any other
// exception fails the test.
template <class Body>
TransportFailure CatchTransportFailure(Body&& body) {
  TransportFailure failure;
  try {
    body();
  } catch (const ovrin::TransportException& e) {
    failure.raised = true;
    failure.status = e.status;
    failure.text = e.what();
  } catch (const std::exception& e) {
    ADD_FAILURE() << "expected TransportException, got: " << e.what();
  }
  return failure;
}

}  // namespace dktest
