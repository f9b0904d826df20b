#pragma once

#include <memory>
#include <set>
#include <string>

#include "fallback/FallbackSource.h"
#include "fallback/MediaDecoder.h"

// The audio files of a folder, by name, in order, looping; a file that
// does not decode is skipped and told once.
class TFolderSource : public TFallbackSource {
public:
    TFolderSource(const std::string& AFolder, int32_t ASampleRate, int AChannels, const std::atomic<bool>& AStop,
                  TFallbackNotice ANotice);

    void Produce(std::vector<float>& AOut, const std::atomic<bool>& AStop) override;
    bool Live() const override { return false; }

private:
    // Opens the file after the last one played; false when none in a whole
    // pass of the folder opens.
    bool OpenNext();

    std::string FFolder;
    TMediaDecoder FDecoder;
    TFallbackNotice FNotice;
    std::string FCurrent;
    bool FOpen = false;
    bool FPlayedAny = false;
    std::set<std::string> FTold;
    bool FToldEmpty = false;
};
