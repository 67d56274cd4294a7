#include "decoder/fieldtables.h"

// The tables are fixed data of the beacon format. Channel values are
// chosen per row (not computed from the text); the open-ended rows lie
// beyond their bound.

const LevelTable BatteryVoltageLevels = {{{{"<= 3000 mV", 2958},
                                           {"3001 mV .. 3085 mV", 3042},
                                           {"3086 mV .. 3171 mV", 3128},
                                           {"3172 mV .. 3256 mV", 3214},
                                           {"3257 mV .. 3342 mV", 3299},
                                           {"3343 mV .. 3428 mV", 3385},
                                           {"3429 mV .. 3513 mV", 3471},
                                           {"3514 mV .. 3599 mV", 3556},
                                           {"3600 mV .. 3685 mV", 3642},
                                           {"3686 mV .. 3770 mV", 3728},
                                           {"3771 mV .. 3856 mV", 3813},
                                           {"3857 mV .. 3942 mV", 3899},
                                           {"3943 mV .. 4027 mV", 3985},
                                           {"4028 mV .. 4113 mV", 4070},
                                           {"4114 mV .. 4199 mV", 4156},
                                           {">= 4200 mV", 4242}}}};

const LevelTable BatteryTemperatureLevels = {{{{"<= -20 C", -22},
                                               {"-19 .. -15 C", -17},
                                               {"-14 .. -9 C", -11.5},
                                               {"-8 .. -4 C", -6},
                                               {"-3 .. 2 C", -0.5},
                                               {"3 .. 8 C", 5.5},
                                               {"9 .. 13 C", 11},
                                               {"14 .. 19 C", 16.5},
                                               {"20 .. 25 C", 22.5},
                                               {"26 .. 30 C", 28},
                                               {"31 .. 36 C", 33.5},
                                               {"37 .. 42 C", 39.5},
                                               {"43 .. 47 C", 45.5},
                                               {"48 .. 53 C", 50.5},
                                               {"54 .. 59 C", 56.5},
                                               {">= 60 C", 62}}}};

const LevelTable SolarPanelTemperatureLevels = {{{{"<= -40 C", -45},
                                                  {"-39 .. -31 C", -35},
                                                  {"-30 .. -21 C", -25.5},
                                                  {"-20 .. -11 C", -15.5},
                                                  {"-10 .. -1 C", -5.5},
                                                  {"0 .. 9 C", 4.5},
                                                  {"10 .. 19 C", 14.5},
                                                  {"20 .. 29 C", 24.5},
                                                  {"30 .. 39 C", 34.5},
                                                  {"40 .. 49 C", 49.5},
                                                  {"50 .. 59 C", 54.5},
                                                  {"60 .. 69 C", 64.5},
                                                  {"70 .. 79 C", 74.5},
                                                  {"80 .. 89 C", 84.5},
                                                  {"90 .. 99 C", 94.5},
                                                  {">= 99 C", 105}}}};

// The processor table has no row for 40 to 46 C.
const LevelTable McuTemperatureLevels = {{{{"<= -40 C", -45},
                                           {"-39 .. -32 C", -35.5},
                                           {"-31 .. -23 C", -27},
                                           {"-22 .. -14 C", -18},
                                           {"-13 .. -5 C", -9},
                                           {"-4 .. 4 C", 0},
                                           {"5 .. 13 C", 9},
                                           {"14 .. 22 C", 18},
                                           {"23 .. 30 C", 26.5},
                                           {"31 .. 39 C", 35},
                                           {"47 .. 54 C", 50.5},
                                           {"55 .. 61 C", 58},
                                           {"62 .. 69 C", 65.5},
                                           {"70 .. 76 C", 73},
                                           {"77 .. 84 C", 80.5},
                                           {">= 85 C", 89}}}};

const LevelTable GyroRateLevels = {{{{"<= -32 rad/s", -45},
                                     {"-31.9 .. -27.5 rad/s", -29.7},
                                     {"-27.4 .. -22.9 rad/s", -25.15},
                                     {"-22.8 .. -18.3 rad/s", -20.55},
                                     {"-18.2 .. -13.8 rad/s", -16},
                                     {"-13.7 .. -9.2 rad/s", -11.45},
                                     {"-9.1 .. -4.6 rad/s", -6.85},
                                     {"-4.5 .. -0.1 rad/s", -2.3},
                                     {"0 .. 4.5 rad/s", 2.25},
                                     {"4.6 .. 9.1 rad/s", 6.85},
                                     {"9.2 .. 13.7 rad/s", 11.45},
                                     {"13.8 .. 18.2 rad/s", 16},
                                     {"18.3 .. 22.8 rad/s", 20.55},
                                     {"22.9 .. 27.4 rad/s", 25.15},
                                     {"27.5 .. 31.9 rad/s", 29.7},
                                     {">= 32 rad/s", 33}}}};

const ModeTable SatelliteModes = {3, {"Normal Mode", "Safe-hold Mode", "Emergency"}};

// The torquers' idle text really ends in two blanks; the wheels' has none.
const ModeTable MagneticTorquerModes = {7,
                                        {"sun tracking", "nadir pointing", "target pointing",
                                         "detumbling", "idle  ", "momentum dumping", "debug"}};
const ModeTable ReactionWheelModes = {7,
                                      {"sun tracking", "nadir pointing", "target pointing",
                                       "detumbling", "idle", "momentum dumping", "debug"}};

namespace {
constexpr const char *Unknown = ": unknown(";
}

const std::array<FrameField, FieldCount> FrameFields = {{
    {7, "Satellite Mode", 0, nullptr, &SatelliteModes, Unknown},
    {8, "Battery Voltage Cell 1", 1, &BatteryVoltageLevels, nullptr, Unknown},
    {9, "Battery Voltage Cell 2", 2, &BatteryVoltageLevels, nullptr, Unknown},
    {10, "Battery Temperature Cell 1", 3, &BatteryTemperatureLevels, nullptr, Unknown},
    {11, "Battery Temperature Cell 2", 4, &BatteryTemperatureLevels, nullptr, Unknown},
    {12, "Solar Panel 1 Temperature", 5, &SolarPanelTemperatureLevels, nullptr, Unknown},
    {13, "Solar Panel 2 Temperature", 6, &SolarPanelTemperatureLevels, nullptr, Unknown},
    {14, "Solar Panel 3 Temperature", 7, &SolarPanelTemperatureLevels, nullptr, Unknown},
    {15, "Solar Panel 4 Temperature", 8, &SolarPanelTemperatureLevels, nullptr, Unknown},
    {19, "MCU PWRS Temperature", 9, &McuTemperatureLevels, nullptr, Unknown},
    {20, "MCU OBDH Temperature", 10, &McuTemperatureLevels, nullptr, Unknown},
    {21, "MCU ADCS Temperature", 11, &McuTemperatureLevels, nullptr, Unknown},
    {22, "Magnetic Torquers Mode", 0, nullptr, &MagneticTorquerModes, Unknown},
    // This field has always spelled its unknown statement with a blank.
    {23, "Reaction Wheels Mode", 0, nullptr, &ReactionWheelModes, ": unknown ("},
    {24, "Gyro X", 12, &GyroRateLevels, nullptr, Unknown},
    {25, "Gyro Y", 13, &GyroRateLevels, nullptr, Unknown},
    {26, "Gyro Z", 14, &GyroRateLevels, nullptr, Unknown},
}};

const FrameField *fieldOfChannel(int channel) {
    static const auto byChannel = [] {
        std::array<const FrameField *, ChannelCount> fields{};
        for (const FrameField &field : FrameFields)
            if (field.isNumeric())
                fields[field.channel] = &field;
        return fields;
    }();
    return channel >= 0 && channel < ChannelCount ? byChannel[channel] : nullptr;
}
