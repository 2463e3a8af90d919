#include "downloader/Object.h"

namespace downloader::details {
namespace {

std::atomic<std::int64_t>& Live() {
    static std::atomic<std::int64_t> live{0};
    return live;
}

}  // namespace

std::int64_t LiveObjects() {
    return Live().load();
}

void CountObject(int delta) {
    Live() += delta;
}

}  // namespace downloader::details
