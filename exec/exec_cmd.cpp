#include "exec/exec_cmd.h"

#include <cerrno>

#include <boost/format.hpp>

#include "log/debug_log.h"
#include "log/text_formatter.h"

namespace ovrin {

namespace {

// "Label is\ntext" with a final newline, or nothing for an empty text.
std::string OutputBlock(const char* label, const std::string& text) {
  if (text.empty()) return std::string();
  return (boost::format("%1% is\n%2%%3%") % label % text % (text.back() == '\n' ? "" : "\n")).str();
}

void LogLine(const std::string& text) {
  if (theDebugLog) theDebugLog->log(text);
}

}  // namespace

const char* ExecCmd::Failed(bool codeName) {
  return codeName ? "ExecCmd::ExFailed" : "Execution of %1% failed with return code %2%.\n%3%%4%%5%";
}

ExecCmd::ExecCmd(const std::string& path) : args_(path), path_(path) {}

ExecCmd& ExecCmd::operator<<(const std::string& arg) {
  args_.Append(arg);
  return *this;
}

void ExecCmd::setEnv(const std::string& name, const std::string& value) { env_[name] = value; }

int ExecCmd::execCmdLine() {
  started_ = true;
  returnCode_ = forkExecvGetInOutErrSuidEnv(input_, out_, err_, path_, args_, uid_, env_);
  finished_ = true;
  lastErrno_ = errno;
  return returnCode_;
}

int ExecCmd::exec() {
  execCmdLine();
  if (returnCode_ != 0) reportError();
  return 0;
}

int ExecCmd::exec(std::nothrow_t) {
  execCmdLine();
  return returnCode_;
}

std::string ExecCmd::getString() const {
  std::string line;
  for (size_t i = 0; i < args_.Size(); ++i) {
    if (i > 0) line += ' ';
    line += sh_quote_arg(args_.Argv()[i]);
  }
  return line;
}

void ExecCmd::reportError() const {
  throw OVRIN_ERROR(Failed) % getString() % returnCode_ % OutputBlock("Stdin", input_) %
      OutputBlock("Stdout", out_) % OutputBlock("Stderr", err_);
}

int tLogExecCmd::exec() {
  for (const auto& entry : env()) LogLine("ENV[" + entry.first + "]=" + entry.second);
  LogLine("Executing utility: " + getString());
  ExecCmd::exec();
  LogLine("The utility succesfully executed.");
  LogLine(getReport(*this));
  return 0;
}

int tLogExecCmd::exec(std::nothrow_t) {
  LogLine("Executing utility: " + getString());
  int code = ExecCmd::exec(std::nothrow);
  LogLine("The utility executed with the return code " + std::to_string(code));
  if (code != 0) LogLine(getReport(*this));
  return code;
}

std::string getReport(const ExecCmd& cmd) {
  std::string report = "The return code was " + std::to_string(cmd.returnCode());
  report += cmd.out().empty() ? " \nNo output on STDOUT were performed by the utility"
                              : " \nThe output on STDOUT was: \n" + cmd.out();
  report += cmd.err().empty() ? " \nNo output on STDERR were performed by the utility"
                              : " \nThe output on STDERR was: \n" + cmd.err();
  return report;
}

}  // namespace ovrin
