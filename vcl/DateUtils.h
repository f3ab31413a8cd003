// Date-times as the framework counts them (days since 1899-12-30, the time as the fraction),
// and their text in the regional short-date and long-time formats of the process locale.
#pragma once

#include <string>
#include <string_view>

namespace vcl {

using TDateTime = double;

struct TFormatSettings {
    std::string ShortDateFormat = "dd/MM/yyyy";
    std::string LongTimeFormat = "hh:nn:ss";
    char DateSeparator = '/';
    char TimeSeparator = ':';
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";

    // From the locale of LC_TIME: D_FMT and T_FMT turned into the framework's patterns.
    static TFormatSettings FromLocale();
};

// The settings in force; read from the locale the first time, or set by the program.
TFormatSettings& FormatSettings();

TDateTime EncodeDate(int year, int month, int day); // EConvertError when out of range
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond);
TDateTime Now();
TDateTime UnixToDateTime(long long seconds); // local time of a Unix time

// Patterns: d dd ddd dddd, m mm mmm mmmm, yy yyyy, h hh, n nn, s ss, z zzz, am/pm, ampm,
// the separators "/" and ":", text in quotes; "c" is the short date then the long time.
std::string FormatDateTime(std::string_view format, TDateTime value,
                           const TFormatSettings& settings = FormatSettings());
// Short date, then a blank and the long time unless the time is exactly midnight.
std::string DateTimeToStr(TDateTime value, const TFormatSettings& settings = FormatSettings());
std::string DateToStr(TDateTime value, const TFormatSettings& settings = FormatSettings());

// Reads a date in the order of the short-date format (a two-digit year in the window of
// fifty years around now), optionally followed by a time. EConvertError when it does not.
TDateTime StrToDateTime(std::string_view text, const TFormatSettings& settings = FormatSettings());
TDateTime StrToDate(std::string_view text, const TFormatSettings& settings = FormatSettings());
bool TryStrToDateTime(std::string_view text, TDateTime& value,
                      const TFormatSettings& settings = FormatSettings());
bool TryStrToDate(std::string_view text, TDateTime& value,
                  const TFormatSettings& settings = FormatSettings());

} // namespace vcl
