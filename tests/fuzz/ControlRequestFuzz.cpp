#include <nlohmann/json.hpp>

#include "control/ControlServer.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

class TQuietStation : public TControlTarget {
public:
    TStationState State() override { return {}; }
    void RequestStart() override {}
    void RequestStop() override {}
    std::string RequestTitle(const std::string& ATitle) override { return ATitle.empty() ? "titulo vazio" : ""; }
};

} // namespace

// Requests as anyone on the machine may send them, with or without the
// token: every answer is one of the interface's codes with a JSON body.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    TFuzzInput input(AData, ASize);
    static TQuietStation station;
    static const THttpRoutes routes = ControlRoutes(station, "tok");
    const char* methods[] = {"GET", "POST", "PUT", "DELETE"};
    const char* paths[] = {"/status", "/start", "/stop", "/title"};
    THttpRequest request;
    request.Method = methods[input.Byte() % 4];
    const uint8_t path = input.Byte();
    request.Path = path < 128 ? paths[path % 4] : input.Piece(32);
    const std::string authorization = input.Piece(32);
    request.Header = [&](const char* AName) {
        return std::string(AName) == "Authorization" ? authorization : std::string();
    };
    request.Body = input.Rest();
    THttpResponse response;
    if (const auto refused = routes.Admit(request))
        response = *refused;
    else
        response = routes.Answer(request);
    const int codes[] = {200, 202, 400, 401, 404, 405, 409};
    FUZZ_CHECK(std::find(std::begin(codes), std::end(codes), response.Status) != std::end(codes));
    FUZZ_CHECK(!nlohmann::json::parse(response.Body, nullptr, false).is_discarded());
    return 0;
}
