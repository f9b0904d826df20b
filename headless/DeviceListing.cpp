#include "headless/DeviceListing.h"

#include "capture/DeviceCaption.h"

std::string DeviceListingText(const std::vector<TAudioComboItem>& AItems)
{
    std::string out;
    for (const TAudioComboItem& item : AItems) {
        // A tab or line break inside a name would shift the columns.
        auto clean = [](std::string AText) {
            for (char& c : AText)
                if (c == '\t' || c == '\n' || c == '\r')
                    c = ' ';
            return AText;
        };
        out += std::to_string(item.DeviceIndex) + '\t' + SourceKindToText(item.SourceKind) + '\t' +
               clean(CleanDeviceCaption(item.DisplayName)) + '\t' + clean(item.DisplayName) + '\t' +
               clean(item.DeviceId) + '\n';
    }
    return out;
}
