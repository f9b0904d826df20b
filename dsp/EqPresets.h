#pragma once

#include <array>
#include <string>

#include "dsp/Equalizer.h"

// The equalizer presets. The main window and the settings dialog each have
// a table of their own; both list the presets in EqPresetNames order.

constexpr int KEqPresetCount = 5;
constexpr int KDialogEqSliderCount = 8;

inline constexpr std::array<const char*, KEqPresetCount> EqPresetNames = {
    "flat", "voice", "music", "bass", "presence"};

// Ten band gains in dB per preset, for the main window's panel.
extern const std::array<TEqBandGainsDb, KEqPresetCount> MainPresetGains;
// Eight slider gains in dB per preset, for the settings dialog (slider i
// edits band i).
extern const std::array<std::array<int, KDialogEqSliderCount>, KEqPresetCount> DialogPresetGains;

// Row of a preset name, ignoring ASCII case; any unknown name, "custom"
// included, is the flat row 0.
int EqPresetRow(const std::string& AName);
