// Keeps a transport operation to the failure kinds it declares: any other
// failure is logged and turned into a TransportException (status 0) whose text
// is an operation-specific prefix followed by the failure's own text.
#pragma once

#include <string>

#include "errors/loggable_exceptions.h"
#include "log/debug_log.h"

namespace ovrin {

// Runs `body`; a TransportException passes unchanged, every other failure
// becomes TransportException(prefix + its text), status 0.
template <class Body>
auto WrapFailures(const std::string& prefix, Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const TransportException&) {
    throw;
  } catch (...) {
    throw OVRIN_EXCEPTION(TransportException, prefix + LogCurrentFailure(), 0);
  }
}

}  // namespace ovrin
