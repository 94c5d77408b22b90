// The process-wide settings record, read once at start-up from the executable's string table.
#pragma once

#include <cstdint>

#include "launcher/settings_table.h"

namespace korvane {

#define KORVANE_FIELD_Text(field) char* field = nullptr;
#define KORVANE_FIELD_Message(field) char* field = nullptr;
#define KORVANE_FIELD_MessageArg(field) char* field = nullptr;
#define KORVANE_FIELD_Flag(field) bool field = false;
#define KORVANE_FIELD_Integer(field) std::int32_t field = 0;
#define KORVANE_FIELD_Hex(field) char* field = nullptr; std::uint32_t field##Number = 0;
#define KORVANE_FIELD_Scrambled(field) char* field = nullptr; char* field##Stored = nullptr;
#define KORVANE_SETTING_FIELD(id, field, type, def) KORVANE_FIELD_##type(field)

struct LauncherSettings {
    KORVANE_SETTINGS(KORVANE_SETTING_FIELD)
};

#undef KORVANE_SETTING_FIELD

extern LauncherSettings settings;

} // namespace korvane
