#include "station/StationState.h"

#include <nlohmann/json.hpp>

namespace {

nlohmann::json CountOrNull(int32_t ACount)
{
    return ACount < 0 ? nlohmann::json(nullptr) : nlohmann::json(ACount);
}

// The words beside the machine's names, which stay as they are when the
// words change.
void AddState(nlohmann::json& AInto, const TStationState::TOutput& AOutput)
{
    AInto["status"] = AOutput.Status;
    AInto["error"] = AOutput.IsError;
    AInto["phase"] = PhaseName(AOutput.Phase);
    AInto["refusal"] =
        AOutput.Refusal == TRefusal::None ? nlohmann::json(nullptr) : nlohmann::json(RefusalName(AOutput.Refusal));
    AInto["attempt"] = AOutput.Attempt;
}

} // namespace

TStationState::TOutput StationOutput(int AServer, const TOutputState& AState)
{
    TStationState::TOutput o;
    o.Server = AServer;
    o.Status = AState.Text;
    o.IsError = IsErrorState(AState);
    o.Phase = AState.Phase;
    o.Refusal = AState.Refusal;
    o.Attempt = AState.Attempt;
    return o;
}

std::string StationStateJson(const TStationState& AState)
{
    nlohmann::json outputs = nlohmann::json::array();
    for (const TStationState::TOutput& o : AState.Outputs) {
        nlohmann::json output = {{"server", o.Server}, {"listeners", CountOrNull(o.Listeners)}};
        AddState(output, o);
        outputs.push_back(output);
    }
    nlohmann::json alarms = nlohmann::json::array();
    for (const TAlarm& a : AState.Alarms)
        alarms.push_back({{"server", a.Server}, {"event", AlarmEventName(a.Kind)}, {"text", a.Text}});
    nlohmann::json j = {
        {"state", AState.Running ? "running" : "stopped"},
        {"levels", {{"left", AState.LevelL}, {"right", AState.LevelR}}},
        {"listeners", CountOrNull(AState.Listeners)},
        {"title", AState.Title},
        {"bytesSent", AState.BytesSent},
        {"uptimeSeconds", AState.UptimeSeconds},
        {"recording", AState.RecordingFile},
        {"capture",
         {{"state", AState.CaptureLost ? "lost" : "ok"},
          {"reopens", AState.CaptureReopens},
          {"overruns", AState.CaptureOverruns},
          {"bridgedSeconds", AState.CaptureBridgedSeconds},
          {"driftPpm", AState.CaptureDriftPpm}}},
        {"outputs", outputs},
        {"alarms", alarms},
    };
    AddState(j, AState.Server1);
    // Texts from files and servers may hold bytes that are no UTF-8.
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}
