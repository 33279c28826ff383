#include "transport/failure_wrap.h"

#include <exception>

#include "log/debug_log.h"

namespace ovrin {

std::string LogCurrentFailure() {
  try {
    throw;
  } catch (const ExTraceable& e) {
    LogMsg(e);
    return e.what();
  } catch (const RepoLoggableException<ExTraceable>& e) {
    LogMsg(e);
    return e.what();
  } catch (const std::exception& e) {
    LogError(e.what());
    return e.what();
  } catch (...) {
    LogError("unknown error");
    return "unknown error";
  }
}

}  // namespace ovrin
