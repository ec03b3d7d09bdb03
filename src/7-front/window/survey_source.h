// The source page's survey, on a thread of its own: what a folder or base
// holds, told as soon as the walk has found the folders and again as their
// messages are counted.
#ifndef KORVANE_WINDOW_SURVEY_SOURCE_H_
#define KORVANE_WINDOW_SURVEY_SOURCE_H_

#include <atomic>
#include <functional>
#include <string>

#include "window/source_survey.h"

// Looks at path; calls told with what it has found so far, the last time
// with survey.counted set (or !survey.ok). Stops early once cancel is set.
void SurveySource(const std::string& path, const std::atomic<bool>& cancel,
                  const std::function<void(const SourceSurvey&)>& told);

#endif  // KORVANE_WINDOW_SURVEY_SOURCE_H_
