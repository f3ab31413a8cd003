#include "vcl/DateUtils.h"
#include "vcl/SysUtils.h"

#include <gtest/gtest.h>

using namespace vcl;

namespace {

TFormatSettings French() {
    TFormatSettings s;
    s.ShortDateFormat = "dd/mm/yyyy";
    s.LongTimeFormat = "hh:nn:ss";
    s.DateSeparator = '/';
    s.TimeSeparator = ':';
    return s;
}

TEST(DateUtils, EncodesTheFrameworksDayCount) {
    EXPECT_DOUBLE_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDate(1970, 1, 1), 25569.0);
    EXPECT_DOUBLE_EQ(EncodeDate(2000, 2, 29), 36585.0);
    EXPECT_THROW(EncodeDate(2001, 2, 29), EConvertError);
    int y, m, d;
    DecodeDate(36585.75, y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, 20000229);
    int h, n, s, ms;
    DecodeTime(36585.75, h, n, s, ms);
    EXPECT_EQ(h, 18);
}

TEST(DateUtils, FormatsAndReadsTheRegionalForms) {
    TFormatSettings fr = French();
    TDateTime t = EncodeDate(2026, 12, 10) + EncodeTime(8, 5, 9, 0);
    EXPECT_EQ(DateTimeToStr(t, fr), "10/12/2026 08:05:09");
    EXPECT_EQ(DateTimeToStr(EncodeDate(2026, 12, 10), fr), "10/12/2026"); // midnight: no time
    EXPECT_EQ(DateTimeToStr(EncodeDate(2026, 12, 10) + EncodeTime(0, 0, 0, 300), fr), "10/12/2026");
    EXPECT_EQ(DateTimeToStr(EncodeDate(2026, 12, 10) + EncodeTime(0, 0, 1, 0), fr),
              "10/12/2026 00:00:01");
    EXPECT_EQ(FormatDateTime("dddd d mmmm yyyy 'à' h:nn", t, fr), "jeudi 10 décembre 2026 à 8:05");
    EXPECT_DOUBLE_EQ(StrToDateTime("10/12/2026 08:05:09", fr), t);
    EXPECT_DOUBLE_EQ(StrToDate("1/2/2003", fr), EncodeDate(2003, 2, 1));

    TFormatSettings us = fr;
    us.ShortDateFormat = "m/d/yyyy";
    us.LongTimeFormat = "h:nn:ss ampm";
    EXPECT_EQ(DateTimeToStr(EncodeDate(2003, 1, 2) + EncodeTime(15, 0, 0, 0), us),
              "1/2/2003 3:00:00 PM");
    EXPECT_DOUBLE_EQ(StrToDateTime("1/2/2003 3:00:00 PM", us),
                     EncodeDate(2003, 1, 2) + EncodeTime(15, 0, 0, 0));
}

TEST(DateUtils, RefusesTextThatIsNoDate) {
    TFormatSettings fr = French();
    for (const char* text :
         {"", "abc", "32/01/2020", "10/12/2026 25:00", "10/12/2026 x", "10-12-2026"}) {
        TDateTime v;
        EXPECT_FALSE(TryStrToDateTime(text, v, fr)) << text;
    }
    EXPECT_THROW(StrToDateTime("nope", fr), EConvertError);
}

TEST(DateUtils, TwoDigitYearsLandWithinFiftyYearsOfNow) {
    TFormatSettings fr = French();
    int year, m, d;
    DecodeDate(Now(), year, m, d);
    TDateTime v = StrToDate("01/01/" + std::to_string((year + 10) % 100), fr);
    int y2;
    DecodeDate(v, y2, m, d);
    EXPECT_EQ(y2, year + 10);
    v = StrToDate("01/01/" + std::to_string((year - 60 + 100) % 100), fr);
    DecodeDate(v, y2, m, d);
    EXPECT_EQ(y2, year + 40);
}

TEST(DateUtils, TheLocaleFormsBecomeFrameworkPatterns) {
    // The test runs in the C.UTF-8 locale: "%m/%d/%y" and "%H:%M:%S".
    TFormatSettings s = TFormatSettings::FromLocale();
    EXPECT_EQ(s.ShortDateFormat, "mm/dd/yy");
    EXPECT_EQ(s.LongTimeFormat, "hh:nn:ss");
    EXPECT_EQ(s.DateSeparator, '/');
    EXPECT_EQ(s.TimeSeparator, ':');
}

} // namespace
