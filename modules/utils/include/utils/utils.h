#pragma once

#include <string>

namespace vantisol {

// Sets the line format of every logger and turns their standard output off.
void SetLogFormat();

// Sends every existing logger into one file: the per-user application-data folder's
// "Vantisol/logs/<name>.release.log" (name empty: the executable's file name). With
// `in_app_data` false the folder is "logs" under the working directory and nothing is rotated.
void LogToFile(bool in_app_data, const std::string& name);

// Keeps texts from the operating system or the driver on one log line.
std::string EscapeLineBreaks(std::string text);

}  // namespace vantisol
