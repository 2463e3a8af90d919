// What the libcurl-based transfers share.
#pragma once

#include <string>

namespace stubframework::platform::http {

// libcurl's global set-up, once per process.
void InitCurl();

// The URL as libcurl accepts it: blanks (such as a blank-padded timestamp)
// are sent percent-encoded, the way a browser sends them.
std::string UrlForCurl(const std::string& url);

}  // namespace stubframework::platform::http
