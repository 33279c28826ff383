#include "errors/loggable_exceptions.h"

namespace ovrin {

const char* RepositoryError(bool codeName) { return codeName ? "RepositoryError" : "Repository error: %1%"; }
const char* TransportError(bool codeName) { return codeName ? "TransportError" : "Transport error: %1%"; }
const char* ImportError(bool codeName) { return codeName ? "ImportError" : "Import error: %1%"; }
const char* CurlError(bool codeName) { return codeName ? "CurlError" : "Curl error: %1%"; }

}  // namespace ovrin
