#include "control/StationState.h"

#include <nlohmann/json.hpp>

std::string StationStateJson(const TStationState& AState)
{
    nlohmann::json outputs = nlohmann::json::array();
    for (const TStationState::TOutput& o : AState.Outputs)
        outputs.push_back({{"server", o.Server},
                           {"status", o.Status},
                           {"error", o.IsError},
                           {"listeners", o.Listeners < 0 ? nlohmann::json(nullptr) : nlohmann::json(o.Listeners)}});
    nlohmann::json alarms = nlohmann::json::array();
    for (const TAlarm& a : AState.Alarms)
        alarms.push_back({{"server", a.Server}, {"event", AlarmEventName(a.Kind)}, {"text", a.Text}});
    const nlohmann::json j = {
        {"state", AState.Running ? "running" : "stopped"},
        {"status", AState.Status},
        {"error", AState.StatusIsError},
        {"levels", {{"left", AState.LevelL}, {"right", AState.LevelR}}},
        {"listeners", AState.Listeners < 0 ? nlohmann::json(nullptr) : nlohmann::json(AState.Listeners)},
        {"title", AState.Title},
        {"bytesSent", AState.BytesSent},
        {"uptimeSeconds", AState.UptimeSeconds},
        {"recording", AState.RecordingFile},
        {"outputs", outputs},
        {"alarms", alarms},
    };
    // Texts from files and servers may hold bytes that are no UTF-8.
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
