#pragma once

#include <array>

// One row of a numeric field's table: the statement text after the prefix
// and the channel value, in the unit the text names.
struct LevelRow {
    const char *text;
    double value;
};

// Sixteen rows, one per symbol of SymbolAlphabet, in level order.
struct LevelTable {
    std::array<LevelRow, 16> rows;
};

// The modes of a mode field; its symbols are the leading symbols of
// SymbolAlphabet in level order, so row i belongs to the symbol of level i.
struct ModeTable {
    int rowCount;
    std::array<const char *, 7> rows;
};

extern const LevelTable BatteryVoltageLevels;
extern const LevelTable BatteryTemperatureLevels;
extern const LevelTable SolarPanelTemperatureLevels;
extern const LevelTable McuTemperatureLevels;
extern const LevelTable GyroRateLevels;
extern const ModeTable SatelliteModes;
extern const ModeTable MagneticTorquerModes;
extern const ModeTable ReactionWheelModes;

// One decoded field of the frame.
struct FrameField {
    int position;               // 1-based in the 26-character frame
    const char *prefix;         // begins every statement of the field
    int channel;                // index into TelemetryRecord::Values; 0 for mode fields
    const LevelTable *levels;   // numeric fields
    const ModeTable *modes;     // mode fields
    const char *unknownOpening; // follows the prefix in the unknown statement

    int rowCount() const { return levels ? int(levels->rows.size()) : modes->rowCount; }
    const char *rowText(int level) const {
        return levels ? levels->rows[level].text : modes->rows[level];
    }
    bool isNumeric() const { return levels != nullptr; }
};

// The seventeen decoded fields in frame (and report) order.
inline constexpr int FieldCount = 17;
extern const std::array<FrameField, FieldCount> FrameFields;

// Channels 0 to 28; 1 to 14 are written by the numeric fields.
inline constexpr int ChannelCount = 29;
// The numeric field that writes a channel; none for 0 and 15 to 28.
const FrameField *fieldOfChannel(int channel);
