#include "monitoring/IcyMetadata.h"

#include <algorithm>

void TIcyReader::Feed(std::string_view AChunk, std::string& AAudio)
{
    if (FMetaInt == 0) {
        AAudio.append(AChunk);
        return;
    }
    while (!AChunk.empty()) {
        if (FAtLengthByte) {
            FAtLengthByte = false;
            FMetaLeft = static_cast<unsigned char>(AChunk.front()) * 16L;
            AChunk.remove_prefix(1);
            FBlock.clear();
            if (FMetaLeft == 0)
                EndBlock();
            continue;
        }
        if (FMetaLeft > 0) {
            const size_t n = std::min(AChunk.size(), static_cast<size_t>(FMetaLeft));
            FBlock.append(AChunk.substr(0, n));
            AChunk.remove_prefix(n);
            FMetaLeft -= static_cast<long>(n);
            if (FMetaLeft == 0)
                EndBlock();
            continue;
        }
        const size_t n = std::min(AChunk.size(), FAudioLeft);
        AAudio.append(AChunk.substr(0, n));
        AChunk.remove_prefix(n);
        FAudioLeft -= n;
        if (FAudioLeft == 0)
            FAtLengthByte = true;
    }
}

void TIcyReader::EndBlock()
{
    FMetaLeft = -1;
    FAudioLeft = FMetaInt;
    // An empty block means "no change".
    std::string title;
    if (!FBlock.empty() && ParseStreamTitle(FBlock, title)) {
        FTitle = title;
        FHasTitle = true;
    }
}

bool ParseStreamTitle(const std::string& ABlock, std::string& ATitle)
{
    static const std::string key = "StreamTitle='";
    const size_t start = ABlock.find(key);
    if (start == std::string::npos)
        return false;
    const size_t from = start + key.size();
    // Servers do not escape quotes inside the title: its end is "';" (or
    // the last quote, in a block padded with NULs).
    size_t end = ABlock.find("';", from);
    if (end == std::string::npos)
        end = ABlock.rfind('\'');
    if (end == std::string::npos || end < from)
        return false;
    ATitle = ABlock.substr(from, end - from);
    return true;
}
