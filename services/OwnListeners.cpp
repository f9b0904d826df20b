#include "services/OwnListeners.h"

#include <map>
#include <mutex>
#include <utility>

#include "platform/Text.h"

namespace {

std::mutex GLock;
std::map<std::pair<std::string, int32_t>, int32_t> GCounts;

std::pair<std::string, int32_t> Key(const std::string& AHost, int32_t APort)
{
    return {AsciiLower(Trim(AHost)), APort};
}

} // namespace

TOwnListener::TOwnListener(std::string AHost, int32_t APort) : FHost(std::move(AHost)), FPort(APort)
{
    const std::lock_guard<std::mutex> guard(GLock);
    ++GCounts[Key(FHost, FPort)];
}

TOwnListener::~TOwnListener()
{
    const std::lock_guard<std::mutex> guard(GLock);
    const auto at = GCounts.find(Key(FHost, FPort));
    if (at != GCounts.end() && --at->second <= 0)
        GCounts.erase(at);
}

int32_t OwnListenersAt(const std::string& AHost, int32_t APort)
{
    const std::lock_guard<std::mutex> guard(GLock);
    const auto at = GCounts.find(Key(AHost, APort));
    return at == GCounts.end() ? 0 : at->second;
}
