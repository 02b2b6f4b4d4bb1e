#include "dosdate.h"
#include "platform.h"

namespace arcovelo {
namespace {

std::int32_t Pack(int year, int month, int day, int hour, int minute, int second)
{
    const auto v = std::uint32_t(year - 1980) << 25 | std::uint32_t(month) << 21 |
                   std::uint32_t(day) << 16 | std::uint32_t(hour) << 11 |
                   std::uint32_t(minute) << 5 | std::uint32_t(second / 2);
    return static_cast<std::int32_t>(v);
}

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : days[month - 1];
}

}  // namespace

std::int32_t DosStampFromTime(std::time_t t)
{
    std::tm local{};
    if (!LocalTimeOf(t, local))
        return Pack(1980, 1, 1, 0, 0, 0);
    const int year = local.tm_year + 1900;
    if (year < 1980)
        return Pack(1980, 1, 1, 0, 0, 0);
    if (year > 2107)
        return Pack(2107, 12, 31, 23, 59, 58);
    return Pack(year, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec > 59 ? 58 : local.tm_sec);
}

bool TimeFromDosStamp(std::int32_t stamp, std::time_t& t)
{
    const auto v = static_cast<std::uint32_t>(stamp);
    const int year = int(v >> 25) + 1980;
    const int month = int(v >> 21 & 0x0F);
    const int day = int(v >> 16 & 0x1F);
    const int hour = int(v >> 11 & 0x1F);
    const int minute = int(v >> 5 & 0x3F);
    const int second = int(v & 0x1F) * 2;
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return false;
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return TimeOfLocal(local, t);
}

}  // namespace arcovelo
