// The run's reports to the web service: "started" when the wizard opens, the
// final status when it has closed, and after a failed run the error report
// with the logs zipped.
#pragma once

#include <cstdint>

namespace stubframework::core {

class FrameworkCore;

class Analytics {
public:
    explicit Analytics(FrameworkCore& core) : core_(core) {}
    virtual ~Analytics() = default;
    Analytics(const Analytics&) = delete;
    Analytics& operator=(const Analytics&) = delete;

    // Each true when the request went out.
    virtual bool ReportStart();
    virtual bool ReportStatus();
    // Uploads the attached files as one ZIP; false when there are none, one
    // cannot be added, or the upload failed.
    virtual bool SendErrorReport();
    // The status report (the start report unless `final`), then after a
    // failed run the error report: 0, or 300 when either failed.
    virtual std::int32_t ReportFinal(bool final);

private:
    bool SendAnalytics(bool starting);

    FrameworkCore& core_;
};

}  // namespace stubframework::core
