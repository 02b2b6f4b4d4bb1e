#include "format.h"

#include <charconv>

namespace arcovelo::format {

std::string VolumeDigits(unsigned volume)
{
    const std::string padded = "00" + std::to_string(volume);
    return padded.substr(padded.size() - 3);
}

std::string NextVolumeName(const std::string& current, const std::string& digits)
{
    const auto lastSlash = current.find_last_of("/\\");
    const auto nameStart = lastSlash == std::string::npos ? 0 : lastSlash + 1;
    const auto dot = current.rfind('.');
    const std::string stem = dot != std::string::npos && dot >= nameStart ? current.substr(0, dot) : current;
    return stem + "." + digits;
}

bool IsVolumeRecord(const std::string& name)
{
    return name.size() >= 9 && name.compare(0, 9, kVolumeMarker) == 0;
}

bool VolumeRecordDigits(const std::string& name, std::string& digits)
{
    if (name.size() != static_cast<std::size_t>(kVolumeRecordLength) || !IsVolumeRecord(name))
        return false;
    for (std::size_t i = 9; i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9')
            return false;
    digits = name.substr(9);
    return true;
}

bool ParseListedFile(const std::string& line, ListedFile& file)
{
    const auto tab = line.rfind('\t');
    const auto eq = tab == std::string::npos ? std::string::npos : line.find('=', tab);
    if (eq == std::string::npos)
        return false;
    const auto number = [&line](std::size_t from, std::size_t to, auto& value) {
        const auto [end, error] = std::from_chars(line.data() + from, line.data() + to, value);
        return error == std::errc() && end == line.data() + to && from < to;
    };
    if (!number(tab + 1, eq, file.stamp) || !number(eq + 1, line.size(), file.size))
        return false;
    file.name = line.substr(0, tab);
    return true;
}

}  // namespace arcovelo::format
