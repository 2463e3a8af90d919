// The tracker's own log, kept only when the settings file asks for it:
// "productanalytics_DDMMYYYY.log" in the temporary folder, opened for each line.
#pragma once

#include <string>

namespace myexternalmethods {

enum class TrackerLevel { Trace, Error };

// One line: "[YYYYMMDD hh:mm:ss mmm LEVEL] text\n" (milliseconds padded
// with blanks).
std::string TrackerLogLine(TrackerLevel level, const std::string& text);
void WriteTrackerLog(TrackerLevel level, const std::string& text);

}  // namespace myexternalmethods
