#include "capture/SoundServerDevices.h"

#include <pulse/introspect.h>

#include "capture/SoundServerConnection.h"

namespace {

// Catalogue and list requests together, so a silent server costs this once.
constexpr auto KCatalogueWait = std::chrono::seconds(3);

struct TListing {
    std::string ServerName;
    std::vector<TSoundServerDevice> Sinks;
    std::vector<TSoundServerDevice> Sources;
    int Pending = 3;
};

std::string Text(const char* AText)
{
    return AText ? AText : "";
}

void OnServer(pa_context*, const pa_server_info* AInfo, void* AListing)
{
    auto* listing = static_cast<TListing*>(AListing);
    if (AInfo)
        listing->ServerName = Text(AInfo->server_name);
    --listing->Pending;
}

// What sinks and sources report alike.
template <class TInfo>
TSoundServerDevice DeviceOf(const TInfo& AInfo)
{
    TSoundServerDevice dev;
    dev.Name = Text(AInfo.name);
    dev.Description = Text(AInfo.description);
    dev.Channels = AInfo.sample_spec.channels;
    dev.SampleRate = static_cast<int32_t>(AInfo.sample_spec.rate);
    return dev;
}

void OnSink(pa_context*, const pa_sink_info* AInfo, int AEol, void* AListing)
{
    auto* listing = static_cast<TListing*>(AListing);
    if (AEol) {
        --listing->Pending;
        return;
    }
    TSoundServerDevice dev = DeviceOf(*AInfo);
    dev.IsSink = true;
    dev.MonitorSource = Text(AInfo->monitor_source_name);
    listing->Sinks.push_back(dev);
}

void OnSource(pa_context*, const pa_source_info* AInfo, int AEol, void* AListing)
{
    auto* listing = static_cast<TListing*>(AListing);
    if (AEol) {
        --listing->Pending;
        return;
    }
    TSoundServerDevice dev = DeviceOf(*AInfo);
    dev.IsMonitor = AInfo->monitor_of_sink != PA_INVALID_INDEX;
    listing->Sources.push_back(dev);
}

bool Ask(pa_operation* AOperation)
{
    if (!AOperation)
        return false;
    pa_operation_unref(AOperation);
    return true;
}

} // namespace

TSoundServerCatalogue EnumerateSoundServerDevices()
{
    TSoundServerCatalogue catalogue;
    const auto deadline = TSoundServerConnection::TClock::now() + KCatalogueWait;
    // Declared first so that it outlives any request still open at the end.
    TListing listing;
    TSoundServerConnection server;
    if (!server.Connect(deadline))
        return catalogue;
    pa_context* ctx = server.Context();
    if (!Ask(pa_context_get_server_info(ctx, OnServer, &listing)) ||
        !Ask(pa_context_get_sink_info_list(ctx, OnSink, &listing)) ||
        !Ask(pa_context_get_source_info_list(ctx, OnSource, &listing)) ||
        !server.RunUntil([&listing] { return listing.Pending == 0; }, deadline))
        return catalogue;

    catalogue.Reachable = true;
    catalogue.ServerLabel =
        listing.ServerName.find("PipeWire") != std::string::npos ? "PipeWire" : "PulseAudio";
    catalogue.Devices = std::move(listing.Sinks);
    catalogue.Devices.insert(catalogue.Devices.end(), listing.Sources.begin(), listing.Sources.end());
    return catalogue;
}
