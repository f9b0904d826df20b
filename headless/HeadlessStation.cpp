#include "headless/HeadlessStation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/NativeEncoderThread.h"
#include "headless/LogLine.h"
#include "platform/Tick.h"

namespace {

constexpr uint64_t KSummaryEveryMs = 60000;

std::string Decibels(double APeak)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%.1f", std::max(-60.0, 20.0 * std::log10(std::max(APeak, 1e-6))));
    return text;
}

} // namespace

THeadlessStation::THeadlessStation(const TEncoderConfig& AConfig, std::ostream& ALog)
    : FConfig(AConfig), FLog(ALog), FStation(FConfig, static_cast<TStationObserver&>(*this))
{
    // A transmission that ends by itself ends the program.
    FStation.SetFreeWhenEnded(true);
}

void THeadlessStation::Log(bool AIsError, const std::string& AText)
{
    FLog << LogLine(std::chrono::system_clock::now(), AIsError, AText) << std::endl;
}

void THeadlessStation::Tick()
{
    FStation.Tick();
    if (FStation.Running() && GetTickCount64() >= FNextSummaryTick) {
        FNextSummaryTick = GetTickCount64() + KSummaryEveryMs;
        LogSummary();
    }
}

void THeadlessStation::RunningChanged(bool ARunning)
{
    if (ARunning)
        FNextSummaryTick = GetTickCount64() + KSummaryEveryMs;
}

void THeadlessStation::OutputChanged(int AServer, const TOutputState& AState)
{
    Log(IsErrorState(AState), AServer == 1 ? AState.Text : "[servidor " + std::to_string(AServer) + "] " + AState.Text);
}

void THeadlessStation::RecordChanged(const std::string&, const std::string& AText, bool AIsError)
{
    Log(AIsError, AText);
}

void THeadlessStation::AlarmChanged(const TAlarm& AAlarm)
{
    const std::string where = AAlarm.Server > 0 ? "[servidor " + std::to_string(AAlarm.Server) + "] " : "";
    // A raised alarm is what an operator watching the journal looks for.
    const char* mark = IsNotice(AAlarm.Kind) ? "" : AAlarm.Raised ? "ALARME: " : "ALARME encerrado: ";
    Log(AAlarm.Raised || IsNotice(AAlarm.Kind), where + mark + AAlarm.Text);
}

// "captura ok, reaberta 2 vezes, 0 perdas por atraso, 3.1 s em silencio no
// lugar, deriva +42 ppm"
std::string THeadlessStation::CaptureSummary(const TNativeEncoderThread* AWorker)
{
    if (!AWorker)
        return "captura parada";
    const TCaptureHealth& health = AWorker->CaptureHealth();
    char text[200];
    std::snprintf(text, sizeof(text),
                  "captura %s, reaberta %u vezes, %llu perdas por atraso, %.1f s em silencio no lugar, deriva %+.0f ppm",
                  health.Lost ? "perdida" : "ok", health.Reopens.load(),
                  static_cast<unsigned long long>(health.Overruns.load()), health.BridgedSeconds.load(),
                  health.DriftPpm.load());
    return text;
}

void THeadlessStation::LogSummary()
{
    TNativeEncoderThread* worker = FStation.Worker();
    const TAudioLevels highest = worker ? worker->Levels().TakeHighest() : TAudioLevels{};
    const int32_t listeners = FStation.ListenerSum();
    // The meters show a scaled mean, not the samples' peak: named as what it is.
    Log(false, "Resumo do minuto: nivel maximo dos medidores L " + Decibels(highest.L) + " dB, R " +
                   Decibels(highest.R) + " dB; ouvintes " +
                   (listeners < 0 ? std::string("--") : std::to_string(listeners)) + "; enviados " +
                   std::to_string(worker ? worker->BytesSent() : 0) + " bytes; alarmes " +
                   std::to_string(FStation.Alarms().size()) + "; " + CaptureSummary(worker) + ".");
}
