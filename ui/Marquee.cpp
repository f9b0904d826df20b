#include "ui/Marquee.h"

namespace {

constexpr int KStep = 3;
const std::string KPadding = "   ";

} // namespace

void TMarquee::Show(const std::string& AText)
{
    if (AText == FText && !FDisplayText.empty())
        return;
    FText = AText;
    FDisplayText = KPadding + AText + KPadding;
    FX = FStripWidth;
}

void TMarquee::Step()
{
    FX -= KStep;
    if (FX + FMeasureText(FDisplayText) < 0)
        FX = FStripWidth;
}
