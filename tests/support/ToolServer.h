// The Python servers under tools/, run for the tests: started on a free
// port (read from the port file they write), stopped with the object.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/TestFolder.h"

namespace stubtest {

class ToolServer {
public:
    // Runs tools/<script> with the arguments and "--port-file FILE".
    ToolServer(const std::string& script, const std::vector<std::string>& arguments);
    ~ToolServer();
    ToolServer(const ToolServer&) = delete;
    ToolServer& operator=(const ToolServer&) = delete;

    int Port() const { return port_; }

private:
    TestFolder work_;
    pid_t server_ = -1;
    int port_ = 0;
};

// A GET (or, with a body, a PUT) through libcurl; throws when the server
// cannot be reached. `caFile` trusts a test certificate.
std::string HttpRequest(const std::string& url, const std::string& caFile = "",
                        const std::string* putBody = nullptr);

}  // namespace stubtest
