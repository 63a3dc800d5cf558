#include "utils/utils.h"

#include <iostream>

#include "platform.h"
#include "utils/logging.h"
#include "utils/path.h"

namespace vantisol {

namespace {
constexpr const char* kLogFormat =
    "%level %msg [%logger] %file(%line) / %func / %thread / %datetime";
constexpr uint64_t kRotationSize = 50000000;

// The logging library keeps one open stream per file name and hands it to every later
// configuration of that name; after a rotation that stream would go on writing into the moved file.
void ForgetLogStream(const std::string& file) {
  auto* loggers = ELPP->registeredLoggers();
  el::base::threading::ScopedLock lock(loggers->lock());
  loggers->logStreamsReference()->erase(file);
}
}  // namespace

void SetLogFormat() {
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::Format, kLogFormat);
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput, "false");
}

void LogToFile(bool in_app_data, const std::string& name) {
  SetLogFormat();

  path log_path("logs");
  if (in_app_data) {
    log_path = path(platform::RoamingAppDataFolder()) / path("Vantisol") / path("logs");
  }
  log_path = log_path.make_absolute();
  VANTISOL_CHECK(log_path.is_directory() || log_path.create_directory());

  std::string file_name = name;
  if (file_name.empty()) file_name = path(platform::ExecutableFilePath()).filename();
  file_name += ".release";
  file_name += ".log";
  const path log_file = log_path / path(file_name);

  if (in_app_data && log_file.exists() && log_file.file_size() > kRotationSize) {
    const std::string old_file = log_file.str() + ".old";
    platform::RemoveFile(old_file);
    platform::RenameFile(log_file.str(), old_file);
    ForgetLogStream(log_file.str());
  }

  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::Filename, log_file.str());
  std::cout << "Logging to: " << log_file.str() << std::endl;
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToFile, "true");
  el::Loggers::reconfigureAllLoggers(el::ConfigurationType::ToStandardOutput, "false");
}

std::string EscapeLineBreaks(std::string text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '\r') {
      out += " \\r ";
    } else {
      out.push_back(c);
    }
  }
  text.clear();
  for (const char c : out) {
    if (c == '\n') {
      text += " \\n ";
    } else {
      text.push_back(c);
    }
  }
  return text;
}

}  // namespace vantisol
