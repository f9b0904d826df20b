#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Splits a stream sent with ICY metadata (every AMetaInt audio bytes, a
// length byte times 16 and that many bytes of "StreamTitle='...';") into
// its audio and its titles. AMetaInt 0: all of it is audio.
class TIcyReader {
public:
    explicit TIcyReader(size_t AMetaInt) : FMetaInt(AMetaInt), FAudioLeft(AMetaInt) {}

    // Appends the audio of AChunk to AAudio.
    void Feed(std::string_view AChunk, std::string& AAudio);
    // A title block has come (the server sends one to each new listener).
    bool HasTitle() const { return FHasTitle; }
    const std::string& Title() const { return FTitle; }

private:
    void EndBlock();

    const size_t FMetaInt;
    size_t FAudioLeft;
    // -1 while audio is read, else the metadata bytes still to come.
    long FMetaLeft = -1;
    bool FAtLengthByte = false;
    std::string FBlock;
    bool FHasTitle = false;
    std::string FTitle;
};

// The StreamTitle of one metadata block; false when it has none.
bool ParseStreamTitle(const std::string& ABlock, std::string& ATitle);
