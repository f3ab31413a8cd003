#include "vcl/DateUtils.h"

#include "vcl/SysUtils.h"

#include <cmath>
#include <ctime>
#include <langinfo.h>
#include <sys/time.h>

namespace vcl {

namespace {

constexpr long long kUnixEpochDays = 25569; // 1970-01-01 as a date-time

bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Days since 1899-12-30 of a proleptic Gregorian date (Howard Hinnant's algorithm).
long long DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = static_cast<unsigned>((153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1);
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468 + kUnixEpochDays;
}

void CivilFromDays(long long days, int& y, int& m, int& d) {
    long long z = days - kUnixEpochDays + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

// Splits a date-time into whole days and milliseconds of the day, as the framework does
// (negative date-times count the time part away from zero).
void Split(TDateTime value, long long& days, long long& ms) {
    long long total = std::llround(value * 86400000.0);
    if (value >= 0) {
        days = total / 86400000;
        ms = total % 86400000;
    } else {
        total = -total;
        days = -(total / 86400000);
        ms = total % 86400000;
    }
}

std::string Pad2(int n) {
    std::string text(n < 10 ? 1 : 0, '0');
    text += std::to_string(n);
    return text;
}

std::string ConvertPosixFormat(const char* posix, bool& twelveHour) {
    std::string out;
    for (const char* p = posix; *p; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        if (!*++p)
            break;
        if (*p == 'E' || *p == 'O') // era and alternative digits: same fields
            if (!*++p)
                break;
        switch (*p) {
        case 'd':
            out += "dd";
            break;
        case 'e':
            out += "d";
            break;
        case 'm':
            out += "mm";
            break;
        case 'Y':
            out += "yyyy";
            break;
        case 'y':
            out += "yy";
            break;
        case 'b':
        case 'h':
            out += "mmm";
            break;
        case 'B':
            out += "mmmm";
            break;
        case 'H':
        case 'k':
            out += "hh";
            break;
        case 'I':
        case 'l':
            out += "hh";
            twelveHour = true;
            break;
        case 'M':
            out += "nn";
            break;
        case 'S':
            out += "ss";
            break;
        case 'p':
        case 'P':
            out += "ampm";
            twelveHour = true;
            break;
        case 'T':
            out += "hh:nn:ss";
            break;
        case 'R':
            out += "hh:nn";
            break;
        case 'r':
            out += "hh:nn:ss ampm";
            twelveHour = true;
            break;
        case 'D':
            out += "mm/dd/yy";
            break;
        case 'F':
            out += "yyyy-mm-dd";
            break;
        case 'Z':
        case 'z':
            break;
        case '%':
            out += '%';
            break;
        default:
            break;
        }
    }
    return Trim(out);
}

char FirstSeparator(const std::string& format, char fallback) {
    for (char c : format)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ' '))
            return c;
    return fallback;
}

} // namespace

TFormatSettings TFormatSettings::FromLocale() {
    TFormatSettings s;
    bool twelveHour = false;
    std::string date = ConvertPosixFormat(nl_langinfo(D_FMT), twelveHour);
    std::string time = ConvertPosixFormat(nl_langinfo(T_FMT), twelveHour);
    if (!date.empty())
        s.ShortDateFormat = date;
    if (!time.empty())
        s.LongTimeFormat = time;
    s.DateSeparator = FirstSeparator(s.ShortDateFormat, '/');
    s.TimeSeparator = FirstSeparator(s.LongTimeFormat, ':');
    // In the framework's patterns "/" and ":" stand for the separators.
    for (char& c : s.ShortDateFormat)
        if (c == s.DateSeparator)
            c = '/';
    for (char& c : s.LongTimeFormat)
        if (c == s.TimeSeparator)
            c = ':';
    if (const char* am = nl_langinfo(AM_STR); am && *am)
        s.TimeAMString = am;
    if (const char* pm = nl_langinfo(PM_STR); pm && *pm)
        s.TimePMString = pm;
    return s;
}

TFormatSettings& FormatSettings() {
    static TFormatSettings settings = TFormatSettings::FromLocale();
    return settings;
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return false;
    result = static_cast<TDateTime>(DaysFromCivil(year, month, day));
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime r;
    if (!TryEncodeDate(year, month, day, r))
        throw EConvertError("Argument incorrect pour le codage de date");
    return r;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        millisecond < 0 || millisecond > 999)
        return false;
    result = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) / 86400000.0;
    return true;
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
    TDateTime r;
    if (!TryEncodeTime(hour, minute, second, millisecond, r))
        throw EConvertError("Argument incorrect pour le codage de l'heure");
    return r;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
    long long days, ms;
    Split(value, days, ms);
    CivilFromDays(days, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond) {
    long long days, ms;
    Split(value, days, ms);
    hour = static_cast<int>(ms / 3600000);
    minute = static_cast<int>(ms / 60000 % 60);
    second = static_cast<int>(ms / 1000 % 60);
    millisecond = static_cast<int>(ms % 1000);
}

TDateTime UnixToDateTime(long long seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    localtime_r(&t, &tm);
    return EncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) +
           EncodeTime(tm.tm_hour, tm.tm_min, tm.tm_sec, 0);
}

TDateTime Now() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    std::time_t t = tv.tv_sec;
    std::tm tm{};
    localtime_r(&t, &tm);
    return EncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) +
           EncodeTime(tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(tv.tv_usec / 1000));
}

std::string FormatDateTime(std::string_view format, TDateTime value, const TFormatSettings& s) {
    static const char* const shortMonths[] = {"janv.", "févr.", "mars",  "avr.", "mai",  "juin",
                                              "juil.", "août",  "sept.", "oct.", "nov.", "déc."};
    static const char* const longMonths[] = {"janvier",   "février", "mars",     "avril",
                                             "mai",       "juin",    "juillet",  "août",
                                             "septembre", "octobre", "novembre", "décembre"};
    static const char* const shortDays[] = {"dim.", "lun.", "mar.", "mer.", "jeu.", "ven.", "sam."};
    static const char* const longDays[] = {"dimanche", "lundi",    "mardi", "mercredi",
                                           "jeudi",    "vendredi", "samedi"};
    int y, mo, d, h, mi, sec, ms;
    DecodeDate(value, y, mo, d);
    DecodeTime(value, h, mi, sec, ms);
    long long days, msDay;
    Split(value, days, msDay);
    int weekday = static_cast<int>(((days - 1) % 7 + 7) % 7); // 1899-12-30 was a Saturday

    bool twelve = false;
    for (std::size_t i = 0; i + 1 < format.size(); ++i)
        if ((format[i] == 'a' || format[i] == 'A') &&
            (SameText(format.substr(i, 4), "ampm") || SameText(format.substr(i, 5), "am/pm")))
            twelve = true;

    std::string out;
    bool lastWasHour = false;
    std::size_t i = 0;
    auto run = [&](char c) {
        std::size_t n = 0;
        while (i + n < format.size() && (format[i + n] | 0x20) == c)
            ++n;
        return n;
    };
    while (i < format.size()) {
        char c = format[i];
        char lc = static_cast<char>(c | 0x20);
        if (c == '"' || c == '\'') {
            std::size_t end = format.find(c, i + 1);
            if (end == std::string_view::npos)
                end = format.size();
            out += format.substr(i + 1, end - i - 1);
            i = end + 1;
            continue;
        }
        if (c == '/') {
            out += s.DateSeparator;
            ++i;
            continue;
        }
        if (c == ':') {
            out += s.TimeSeparator;
            ++i;
            continue;
        }
        if (lc == 'a' && SameText(format.substr(i, 5), "am/pm")) {
            out += h < 12 ? "am" : "pm";
            i += 5;
            continue;
        }
        if (lc == 'a' && SameText(format.substr(i, 4), "ampm")) {
            out += h < 12 ? s.TimeAMString : s.TimePMString;
            i += 4;
            continue;
        }
        if (lc == 'c') {
            out += DateTimeToStr(value, s);
            ++i;
            continue;
        }
        std::size_t n = (lc >= 'a' && lc <= 'z') ? run(lc) : 0;
        switch (lc) {
        case 'd':
            if (n == 1)
                out += std::to_string(d);
            else if (n == 2)
                out += Pad2(d);
            else if (n == 3)
                out += shortDays[weekday];
            else if (n == 4)
                out += longDays[weekday];
            else
                out += FormatDateTime(s.ShortDateFormat, value, s);
            break;
        case 'm':
            if (lastWasHour && n <= 2)
                out += n == 1 ? std::to_string(mi) : Pad2(mi);
            else if (n == 1)
                out += std::to_string(mo);
            else if (n == 2)
                out += Pad2(mo);
            else if (n == 3)
                out += shortMonths[mo - 1];
            else
                out += longMonths[mo - 1];
            break;
        case 'y':
            out += n <= 2 ? Pad2(y % 100) : std::to_string(y);
            break;
        case 'h': {
            int hh = twelve ? (h % 12 == 0 ? 12 : h % 12) : h;
            out += n == 1 ? std::to_string(hh) : Pad2(hh);
            break;
        }
        case 'n':
            out += n == 1 ? std::to_string(mi) : Pad2(mi);
            break;
        case 's':
            out += n == 1 ? std::to_string(sec) : Pad2(sec);
            break;
        case 'z':
            out += n >= 3 ? Format("%.3d", {std::int64_t{ms}}) : std::to_string(ms);
            break;
        case 't':
            out += FormatDateTime(n == 1 ? std::string("hh:nn") : s.LongTimeFormat, value, s);
            break;
        default:
            out += c;
            n = 1;
            break;
        }
        if (lc >= 'a' && lc <= 'z')
            lastWasHour = lc == 'h';
        i += n;
    }
    return out;
}

std::string DateToStr(TDateTime value, const TFormatSettings& s) {
    return FormatDateTime(s.ShortDateFormat, value, s);
}

std::string DateTimeToStr(TDateTime value, const TFormatSettings& s) {
    long long days, ms;
    Split(value, days, ms);
    std::string text = DateToStr(value, s);
    // Midnight is told by the hour, minute and second: a few milliseconds past it still are.
    if (ms / 1000 != 0) {
        text += ' ';
        text += FormatDateTime(s.LongTimeFormat, value, s);
    }
    return text;
}

namespace {

struct Scanner {
    std::string_view text;
    std::size_t pos = 0;
    void Blanks() {
        while (pos < text.size() && text[pos] == ' ')
            ++pos;
    }
    bool Number(int& value, int& digits) {
        Blanks();
        std::size_t start = pos;
        long long v = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 9)
            v = v * 10 + (text[pos++] - '0');
        digits = static_cast<int>(pos - start);
        value = static_cast<int>(v);
        return digits > 0;
    }
    bool Char(char c) {
        Blanks();
        if (pos < text.size() && text[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    }
    bool Text(std::string_view word) {
        Blanks();
        if (!word.empty() && StartsText(word, text.substr(pos))) {
            pos += word.size();
            return true;
        }
        return false;
    }
    bool AtEnd() {
        Blanks();
        return pos >= text.size();
    }
};

enum class Order { DMY, MDY, YMD };

Order DateOrder(const std::string& format) {
    for (char c : format) {
        switch (c | 0x20) {
        case 'd':
            return Order::DMY;
        case 'm':
            return Order::MDY;
        case 'y':
            return Order::YMD;
        default:
            break;
        }
    }
    return Order::MDY;
}

bool ScanDate(Scanner& sc, const TFormatSettings& s, TDateTime& date) {
    int n1, n2, n3 = 0, l1, l2, l3 = 0;
    if (!sc.Number(n1, l1) || !sc.Char(s.DateSeparator) || !sc.Number(n2, l2))
        return false;
    bool third = false;
    {
        Scanner save = sc;
        if (sc.Char(s.DateSeparator) && sc.Number(n3, l3))
            third = true;
        else
            sc = save;
    }
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    int currentYear = tm.tm_year + 1900;
    int y, m, d, yearDigits;
    Order order = DateOrder(s.ShortDateFormat);
    if (!third) {
        y = currentYear;
        yearDigits = 4;
        if (order == Order::MDY) {
            m = n1;
            d = n2;
        } else if (order == Order::DMY) {
            d = n1;
            m = n2;
        } else {
            m = n1;
            d = n2;
        }
    } else if (order == Order::MDY) {
        m = n1;
        d = n2;
        y = n3;
        yearDigits = l3;
    } else if (order == Order::DMY) {
        d = n1;
        m = n2;
        y = n3;
        yearDigits = l3;
    } else {
        y = n1;
        m = n2;
        d = n3;
        yearDigits = l1;
    }
    if (yearDigits <= 2) {
        // The century window: a two-digit year lands within fifty years of now.
        int century = currentYear - 50;
        y += century / 100 * 100;
        if (y < century)
            y += 100;
    }
    return TryEncodeDate(y, m, d, date);
}

bool ScanTime(Scanner& sc, const TFormatSettings& s, TDateTime& time) {
    int h, m = 0, sec = 0, ms = 0, l;
    if (!sc.Number(h, l))
        return false;
    if (sc.Char(s.TimeSeparator)) {
        if (!sc.Number(m, l))
            return false;
        if (sc.Char(s.TimeSeparator)) {
            if (!sc.Number(sec, l))
                return false;
            if (sc.Char('.') && !sc.Number(ms, l))
                return false;
        }
    }
    bool pm = false, marker = false;
    if (sc.Text(s.TimePMString) || sc.Text("PM")) {
        pm = marker = true;
    } else if (sc.Text(s.TimeAMString) || sc.Text("AM")) {
        marker = true;
    }
    if (marker) {
        if (h < 1 || h > 12)
            return false;
        h = h % 12 + (pm ? 12 : 0);
    }
    return TryEncodeTime(h, m, sec, ms, time);
}

} // namespace

bool TryStrToDate(std::string_view text, TDateTime& value, const TFormatSettings& s) {
    Scanner sc{text};
    TDateTime date;
    if (!ScanDate(sc, s, date) || !sc.AtEnd())
        return false;
    value = date;
    return true;
}

bool TryStrToDateTime(std::string_view text, TDateTime& value, const TFormatSettings& s) {
    Scanner sc{text};
    TDateTime date = 0, time = 0;
    Scanner save = sc;
    if (ScanDate(sc, s, date)) {
        if (!sc.AtEnd() && !ScanTime(sc, s, time))
            return false;
    } else {
        sc = save;
        date = 0;
        if (!ScanTime(sc, s, time))
            return false;
    }
    if (!sc.AtEnd())
        return false;
    value = date >= 0 ? date + time : date - time;
    return true;
}

TDateTime StrToDateTime(std::string_view text, const TFormatSettings& s) {
    TDateTime value;
    if (!TryStrToDateTime(text, value, s))
        throw EConvertError("'" + std::string(text) + "' n'est pas une date et heure correcte");
    return value;
}

TDateTime StrToDate(std::string_view text, const TFormatSettings& s) {
    TDateTime value;
    if (!TryStrToDate(text, value, s))
        throw EConvertError("'" + std::string(text) + "' n'est pas une date correcte");
    return value;
}

} // namespace vcl
