// UTC offsets as the tool's options write them.
#pragma once

#include <string_view>

// A fixed offset as --tz takes it: "UTC" or "Z" (0), or a sign and hours,
// with or without minutes: "+08:00", "-0330", "+05". Minutes east of UTC.
bool ParseUtcOffset(std::string_view strText, int& nMinutes);
