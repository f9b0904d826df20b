#include "dsp/EqPresets.h"

#include "platform/Text.h"

const std::array<TEqBandGainsDb, KEqPresetCount> MainPresetGains = {{
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {-5, -4, -3, -1, 1, 3, 4, 3, 1, -1},
    {2, 1, 0, 0, 0, 1, 1, 2, 2, 1},
    {5, 4, 3, 1, 0, -1, -1, 0, 0, 0},
    {-2, -2, -1, 0, 1, 2, 4, 4, 2, 0},
}};

const std::array<std::array<int, KDialogEqSliderCount>, KEqPresetCount> DialogPresetGains = {{
    {0, 0, 0, 0, 0, 0, 0, 0},
    {-3, -2, -1, 1, 2, 3, 2, 1},
    {2, 1, 0, 0, 1, 1, 2, 2},
    {5, 4, 2, 0, -1, -1, 0, 1},
    {-1, -1, 0, 1, 2, 4, 3, 1},
}};

int EqPresetRow(const std::string& AName)
{
    for (int row = 1; row < KEqPresetCount; ++row)
        if (SameTextAscii(AName, EqPresetNames[row]))
            return row;
    return 0;
}
