// What a running download reports to and asks of the side that started it
// (window.external for the page's downloads): the download bar, the log,
// whether the page asked the download to stop, and whether only the size of
// the file is wanted.
#pragma once

#include "core/ProgressBar.h"

namespace stubframework::debug {
class InstallerLog;
}

namespace stubframework {

class DownloadHost {
public:
    virtual debug::InstallerLog* Log() const = 0;
    virtual core::ProgressBar& DownloadBar() = 0;
    virtual bool StopDownload() const = 0;
    virtual bool SizeProbe() const = 0;

protected:
    ~DownloadHost() = default;
};

}  // namespace stubframework
