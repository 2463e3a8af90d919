#include "telemetry/RegionCheck.h"

#include <cstdint>

#include "telemetry/ReportDocuments.h"
#include "telemetry/WebServiceClient.h"

namespace stubframework::core {

std::string ElementText(std::string_view reply, std::string_view name) {
    const std::string open = "<" + std::string(name) + ">";
    const std::string close = "</" + std::string(name) + ">";
    const std::size_t start = reply.find(open);
    if (start == std::string_view::npos) {
        return {};
    }
    const std::size_t from = start + open.size();
    const std::size_t end = reply.find(close, from);
    return end == std::string_view::npos ? std::string()
                                         : std::string(reply.substr(from, end - from));
}

RegionAnswer ReadRegionReply(std::string_view reply) {
    return {ElementText(reply, "country"), ElementText(reply, "isEmbargo")};
}

RegionAnswer CheckRegion(FrameworkCore& core) {
    const std::string document = RegionRestrictionsDocument(core);
    std::string reply;
    if (!ExchangeWithWebService(reinterpret_cast<const std::uint8_t*>(document.data()),
                                document.size(), "/v1/isInEmbargoedCountry", reply)) {
        return {};
    }
    return ReadRegionReply(reply);
}

}  // namespace stubframework::core
