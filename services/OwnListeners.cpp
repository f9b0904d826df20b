#include "services/OwnListeners.h"

#include <map>
#include <mutex>
#include <tuple>
#include <utility>

#include "platform/Text.h"

namespace {

using TKey = std::tuple<std::string, int32_t, std::string>;

std::mutex GLock;
std::map<TKey, int32_t> GCounts;

TKey Key(const std::string& AHost, int32_t APort, const std::string& AMount)
{
    return {AsciiLower(Trim(AHost)), APort, AMount};
}

} // namespace

TOwnListener::TOwnListener(std::string AHost, int32_t APort, std::string AMount)
    : FHost(std::move(AHost)), FPort(APort), FMount(std::move(AMount))
{
    const std::lock_guard<std::mutex> guard(GLock);
    ++GCounts[Key(FHost, FPort, FMount)];
}

TOwnListener::~TOwnListener()
{
    const std::lock_guard<std::mutex> guard(GLock);
    const auto at = GCounts.find(Key(FHost, FPort, FMount));
    if (at != GCounts.end() && --at->second <= 0)
        GCounts.erase(at);
}

int32_t OwnListenersAt(const std::string& AHost, int32_t APort, const std::string& AMount)
{
    const std::lock_guard<std::mutex> guard(GLock);
    if (!AMount.empty()) {
        const auto at = GCounts.find(Key(AHost, APort, AMount));
        return at == GCounts.end() ? 0 : at->second;
    }
    int32_t all = 0;
    const std::string host = AsciiLower(Trim(AHost));
    for (const auto& [key, count] : GCounts)
        if (std::get<0>(key) == host && std::get<1>(key) == APort)
            all += count;
    return all;
}
