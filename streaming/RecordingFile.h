#pragma once

#include <chrono>
#include <string>

#include "codecs/CodecTable.h"
#include "streaming/AudioBlock.h"

// "2026-12-09_14-00-00" for ATime in local time.
std::string RecordingBaseName(TWallTime ATime);
// ".mp3", ".ogg", ".aac", ".oga", ".opus".
std::string RecordingExtension(TCodecKind AKind);
// The first time after ATime that is a whole multiple of AMinutes since
// the local midnight (each full hour for 60); the next midnight when the
// day holds no further multiple.
TWallTime NextSplitAfter(TWallTime ATime, int AMinutes);

// One recording on disk, written straight through so a full disk or a
// file-size limit shows at the write that meets it.
class TRecordingFile {
public:
    ~TRecordingFile();
    // A new file AFolder/ABaseName + AExtension, or with "_2", "_3"...
    // before the extension when that name is taken; never overwrites.
    bool Create(const std::string& AFolder, const std::string& ABaseName, const std::string& AExtension,
                std::string& AError);
    bool Write(const std::string& ABytes, std::string& AError);
    bool Close(std::string& AError);
    bool IsOpen() const { return FFd != -1; }
    const std::string& Path() const { return FPath; }

private:
    int FFd = -1;
    std::string FPath;
};
