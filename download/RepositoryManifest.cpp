#include "download/RepositoryManifest.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* FirstLine = "# Quillbox manifest";
constexpr const char* SerialPrefix = "# Serial: ";
constexpr const char* ExpiresPrefix = "# Expires: ";
constexpr int HeaderLines = 3;
constexpr size_t DigestDigits = 64;

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

int HexValue(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    return digit >= 'a' && digit <= 'f' ? digit - 'a' + 10 : -1;
}

// A decimal number of digits only, 1 to 2^63-1.
bool ParseSerial(const std::string& text, int64_t& value) {
    if (text.empty() || text.size() > 19 || text[0] == '0') {
        return false;
    }
    uint64_t number = 0;
    for (char digit : text) {
        if (digit < '0' || digit > '9') {
            return false;
        }
        number = number * 10 + static_cast<uint64_t>(digit - '0');
    }
    if (number > static_cast<uint64_t>(INT64_MAX)) {
        return false;
    }
    value = static_cast<int64_t>(number);
    return true;
}

bool ParseDigits(const std::string& text, size_t at, size_t count, int& value) {
    value = 0;
    for (size_t index = at; index < at + count; ++index) {
        if (text[index] < '0' || text[index] > '9') {
            return false;
        }
        value = value * 10 + (text[index] - '0');
    }
    return true;
}

// Days from 1970-01-01 to the date in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// The date of a day counted from 1970-01-01, the inverse of DaysFromCivil.
void CivilFromDays(int64_t days, int64_t& year, int& month, int& day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// The path of a file below the base URL: something that names a file there,
// never a way out of it.
bool IsRepositoryPath(const std::string& path) {
    if (path.empty() || path[0] == '/' || path.find('\0') != std::string::npos ||
        path.find('\r') != std::string::npos) {
        return false;
    }
    return path != ".." && !StartsWith(path, "../") && path.find("/../") == std::string::npos;
}

}  // namespace

bool ParseUtcTime(const std::string& text, int64_t& seconds) {
    // YYYY-MM-DDTHH:MM:SSZ
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != 'Z') {
        return false;
    }
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!ParseDigits(text, 0, 4, year) || !ParseDigits(text, 5, 2, month) || !ParseDigits(text, 8, 2, day) ||
        !ParseDigits(text, 11, 2, hour) || !ParseDigits(text, 14, 2, minute) || !ParseDigits(text, 17, 2, second)) {
        return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 59) {
        return false;
    }
    seconds = DaysFromCivil(year, month, day) * 86400 + int64_t{hour} * 3600 + int64_t{minute} * 60 + second;
    return true;
}

std::string FormatUtcTime(int64_t seconds) {
    const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const int64_t rest = seconds - days * 86400;
    int64_t year = 0;
    int month = 0;
    int day = 0;
    CivilFromDays(days, year, month, day);
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02dZ", static_cast<long long>(year), month, day,
                  static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
    return text;
}

std::string DigestText(const RepositoryManifest::Digest& digest) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : digest) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

bool RepositoryManifest::Read(const char* bytes, size_t length, StringClass& problem) {
    Serial = 0;
    Expires = 0;
    Files.clear();
    if (length > MaximumSize) {
        problem = "it is larger than 64 MiB";
        return false;
    }
    if (length == 0 || bytes[length - 1] != '\n') {
        problem = "its last line does not end in a line feed";
        return false;
    }
    int number = 0;
    for (size_t start = 0; start < length; ++number) {
        const char* end = static_cast<const char*>(std::memchr(bytes + start, '\n', length - start));
        const std::string line(bytes + start, static_cast<size_t>(end - (bytes + start)));
        start = static_cast<size_t>(end - bytes) + 1;
        const bool read = number < HeaderLines              ? ReadHeader(line, number, problem)
                          : !line.empty() && line[0] == '#' ? true
                                                            : ReadEntry(line, problem);
        if (!read) {
            problem = FormatString("line %d: %s", number + 1, problem.Peek());
            return false;
        }
    }
    if (number < HeaderLines) {
        problem = "its header is incomplete";
        return false;
    }
    return true;
}

bool RepositoryManifest::ReadHeader(const std::string& line, int number, StringClass& problem) {
    if (number == 0) {
        problem = FormatString("not \"%s\"", FirstLine);
        return line == FirstLine;
    }
    if (number == 1) {
        problem = "no serial from 1 to 9223372036854775807";
        return StartsWith(line, SerialPrefix) && ParseSerial(line.substr(std::strlen(SerialPrefix)), Serial);
    }
    problem = "no expiry date of the form YYYY-MM-DDTHH:MM:SSZ";
    return StartsWith(line, ExpiresPrefix) && ParseUtcTime(line.substr(std::strlen(ExpiresPrefix)), Expires);
}

bool RepositoryManifest::ReadEntry(const std::string& line, StringClass& problem) {
    Digest digest{};
    if (line.size() < DigestDigits + 3 || line[DigestDigits] != ' ' || line[DigestDigits + 1] != ' ') {
        problem = "not a SHA-256 digest, two spaces and a path";
        return false;
    }
    for (size_t index = 0; index < DigestDigits; ++index) {
        const int value = HexValue(line[index]);
        if (value < 0) {
            problem = "the digest is not 64 lower-case hexadecimal digits";
            return false;
        }
        digest[index / 2] = static_cast<uint8_t>(digest[index / 2] << 4 | value);
    }
    const std::string path = line.substr(DigestDigits + 2);
    if (!IsRepositoryPath(path)) {
        problem = "the path does not name a file below the base URL";
        return false;
    }
    if (!Files.emplace(path, digest).second) {
        problem = "the path is listed twice";
        return false;
    }
    return true;
}

const RepositoryManifest::Digest* RepositoryManifest::Find(const std::string& path) const {
    const auto found = Files.find(path);
    return found != Files.end() ? &found->second : nullptr;
}
