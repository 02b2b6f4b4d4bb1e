// MS-DOS packed date-times: year-1980 in bits 25-31, month 21-24, day 16-20,
// hour 11-15, minute 5-10, seconds/2 in 0-4, in local time.
#pragma once

#include <cstdint>
#include <ctime>

namespace arcovelo {

// Packs a time; times before 1980 or after 2107 are clamped to the nearest
// stamp the format can hold. Odd seconds round down.
std::int32_t DosStampFromTime(std::time_t t);

// Unpacks a stamp; returns false (and leaves `t` alone) when it is not a valid
// date and time.
bool TimeFromDosStamp(std::int32_t stamp, std::time_t& t);

}  // namespace arcovelo
