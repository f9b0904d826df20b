#pragma once

#include <functional>
#include <string>

// The now-playing strip's scrolling text, without the toolkit: the text
// padded with three spaces each side, moved 3 pixels left at each step and
// brought back at the right edge once it has left on the left.
class TMarquee {
public:
    // The rendered width of a text in the strip's font.
    using TMeasureText = std::function<int(const std::string& AText)>;

    explicit TMarquee(TMeasureText AMeasureText) : FMeasureText(std::move(AMeasureText)) {}

    void SetStripWidth(int AWidth) { FStripWidth = AWidth; }
    // A new text starts again from the right edge; the same one goes on.
    void Show(const std::string& AText);
    void Step();
    const std::string& DisplayText() const { return FDisplayText; }
    // From the strip's left edge.
    int X() const { return FX; }

private:
    TMeasureText FMeasureText;
    std::string FText;
    std::string FDisplayText;
    int FStripWidth = 0;
    int FX = 0;
};
