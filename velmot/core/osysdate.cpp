// OSYS: dates and times: ltime, broken-down times, fixed and localized
// texts, calendar arithmetic.
#include "velmot/core/osys.h"

#include "velmot/core/osysconv.h"

#include <clocale>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <langinfo.h>
#include <locale.h>
#include <string>

unsigned long long OSYS::GetLTime()
{
    return static_cast<unsigned long long>(time(nullptr));
}

STRING OSYS::CurrentDate()
{
    time_t now = time(nullptr);
    tm t;
    localtime_r(&now, &t);
    STRING rc;
    rc.Format("%04d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    return rc;
}

STRING OSYS::CurrentTime()
{
    time_t now = time(nullptr);
    tm t;
    localtime_r(&now, &t);
    STRING rc;
    rc.Format("%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
    return rc;
}

STRING OSYS::DateTimeFromLtime(unsigned long long ltime)
{
    time_t when = ltime ? static_cast<time_t>(ltime) : time(nullptr);
    tm t;
    localtime_r(&when, &t);
    STRING rc;
    rc.Format("%04d-%02d-%02d  %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
              t.tm_sec);
    return rc;
}

// ---------------------------------------------------------------------------
// Broken-down times

namespace {

_SYSTEMTIME SystemtimeFromTm(tm const& t, int ms)
{
    _SYSTEMTIME st;
    st.wYear = static_cast<WORD>(t.tm_year + 1900);
    st.wMonth = static_cast<WORD>(t.tm_mon + 1);
    st.wDayOfWeek = static_cast<WORD>(t.tm_wday);
    st.wDay = static_cast<WORD>(t.tm_mday);
    st.wHour = static_cast<WORD>(t.tm_hour);
    st.wMinute = static_cast<WORD>(t.tm_min);
    st.wSecond = static_cast<WORD>(t.tm_sec);
    st.wMilliseconds = static_cast<WORD>(ms);
    return st;
}

// The moment an ltime stands for, with its milliseconds: 0 is now (with the
// milliseconds of the clock); any other ltime is a whole second, since an
// ltime carries no milliseconds.
time_t MomentOf(unsigned long long ltime, int* ms)
{
    if (ltime != 0) {
        *ms = 0;
        return static_cast<time_t>(ltime);
    }
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    *ms = static_cast<int>(now.tv_nsec / 1000000);
    return now.tv_sec;
}

tm TmFromSystemtime(_SYSTEMTIME const& st)
{
    tm t{};
    t.tm_year = st.wYear - 1900;
    t.tm_mon = st.wMonth - 1;
    t.tm_mday = st.wDay;
    t.tm_hour = st.wHour;
    t.tm_min = st.wMinute;
    t.tm_sec = st.wSecond;
    return t;
}

} // namespace

_SYSTEMTIME OSYS::LocalSystemtimeFromLtime(unsigned long long ltime)
{
    int ms;
    time_t when = MomentOf(ltime, &ms);
    tm t{};
    localtime_r(&when, &t);
    return SystemtimeFromTm(t, ms);
}

_SYSTEMTIME OSYS::SystemtimeFromLtime(unsigned long long ltime)
{
    int ms;
    time_t when = MomentOf(ltime, &ms);
    tm t{};
    gmtime_r(&when, &t);
    return SystemtimeFromTm(t, ms);
}

unsigned long long OSYS::LtimeFromLocalSystemtime(_SYSTEMTIME const& st)
{
    if (st.wYear < 1970)
        return 0;
    tm t = TmFromSystemtime(st);
    // The daylight-saving state is that of the date itself, not of today,
    // so a summer date converted in winter is not an hour off.
    t.tm_isdst = -1;
    time_t rc = mktime(&t);
    return rc < 0 ? 0 : static_cast<unsigned long long>(rc);
}

unsigned long long OSYS::LtimeFromSystemtime(_SYSTEMTIME const& st)
{
    if (st.wYear < 1970)
        return 0;
    tm t = TmFromSystemtime(st);
    time_t rc = timegm(&t);
    return rc < 0 ? 0 : static_cast<unsigned long long>(rc);
}

// ---------------------------------------------------------------------------
// Texts in the user's locale
//
// The C library's formats of the user's time locale (LC_ALL, LC_TIME, LANG)
// stand for the platform's formatter styles:
//   short date   "%x"                  (en_US "12/31/2024", de_DE "31.12.2024")
//   long date    "%A, %-d %B %Y"       ("Tuesday, 31 December 2024",
//                                       "Dienstag, 31 Dezember 2024")
//   medium time  "%X"                  (en_US "11:59:59 PM", de_DE "23:59:59")
// Date and time are joined by two blanks; a missing part leaves its side
// empty, so date-only texts end in two blanks and the time alone begins
// with two. The text is limited to 95 characters and turned from the
// locale's encoding into code page 1252.

namespace {

enum class DateStyle { None, Short, Long };
enum class TimeStyle { None, Medium };

std::string FormatIn(locale_t loc, char const* format, tm const& t)
{
    char buf[256];
    size_t n = loc ? strftime_l(buf, sizeof buf, format, &t, loc) : strftime(buf, sizeof buf, format, &t);
    return std::string(buf, n);
}

STRING LocaleText(DateStyle date, TimeStyle time, unsigned long long ltime)
{
    int ms;
    time_t when = MomentOf(ltime, &ms);
    tm t{};
    localtime_r(&when, &t);

    // The user's locale, without changing the process's own.
    locale_t loc = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (!loc)
        loc = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));

    std::string text;
    if (date == DateStyle::Short)
        text = FormatIn(loc, "%x", t);
    else if (date == DateStyle::Long)
        text = FormatIn(loc, "%A, %-d %B %Y", t);
    text += "  ";
    if (time == TimeStyle::Medium)
        text += FormatIn(loc, "%X", t);

    bool utf8 = loc && strcmp(nl_langinfo_l(CODESET, loc), "UTF-8") == 0;
    if (loc)
        freelocale(loc);

    STRING rc = utf8 ? osysconv::StringFromUtf8(text) : STRING(text.c_str());
    if (rc.Length() > 95)
        rc.Cut(95);
    return rc;
}

} // namespace

STRING OSYS::CurrentDateLocalized()
{
    return LocaleText(DateStyle::Short, TimeStyle::None, 0);
}

STRING OSYS::CurrentDateLocalizedLong()
{
    return LocaleText(DateStyle::Long, TimeStyle::None, 0);
}

STRING OSYS::CurrentTimeLocalized()
{
    return LocaleText(DateStyle::None, TimeStyle::Medium, 0);
}

STRING OSYS::DateTimeFromLtimeLocalized(unsigned long long ltime)
{
    return LocaleText(DateStyle::Short, TimeStyle::Medium, ltime);
}

// ---------------------------------------------------------------------------
// Calendar arithmetic
//
// Dates are counted as days of the proleptic Gregorian calendar in 64 bits,
// so neither time_t's range nor the time zone plays a part.

namespace {

long long DaysFromCivil(long long y, long long m, long long d)
{
    y -= m <= 2;
    long long era = (y >= 0 ? y : y - 399) / 400;
    long long yoe = y - era * 400;
    long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(long long z, long long* y, long long* m, long long* d)
{
    z += 719468;
    long long era = (z >= 0 ? z : z - 146096) / 146097;
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp + (mp < 10 ? 3 : -9);
    *y = yoe + era * 400 + (*m <= 2);
}

long long FloorDiv(long long a, long long b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

bool IsLeap(long long y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(long long y, long long m)
{
    static int const days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Seconds of a date and time counted from 1970-01-01 00:00:00; fields out
// of their range carry into the next larger field, as mktime does.
long long SecondsOf(long long y, long long mon, long long d, long long h, long long mi, long long s)
{
    long long months = y * 12 + (mon - 1);
    y = FloorDiv(months, 12);
    mon = months - y * 12 + 1;
    return (DaysFromCivil(y, mon, 1) + d - 1) * 86400 + h * 3600 + mi * 60 + s;
}

} // namespace

STRING OSYS::DateTimeArithmetic(char const* datetime, _SYSTEMTIME const& delta, int factor)
{
    int f[6] = {0, 0, 0, 0, 0, 0};
    if (datetime)
        sscanf(datetime, "%d-%d-%d %d:%d:%d", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]);

    // The text as a moment first (so "2024-02-30" is 2024-03-01), then
    // years and months on the calendar, keeping the day of the month where
    // the target month has it and taking its last day otherwise, then the
    // rest as a plain duration: all in UTC, so no daylight-saving shift.
    long long secs = SecondsOf(f[0], f[1], f[2], f[3], f[4], f[5]);
    long long days = FloorDiv(secs, 86400);
    long long tod = secs - days * 86400;
    long long y, m, d;
    CivilFromDays(days, &y, &m, &d);

    // Sums in 128 bits: a huge factor must give an empty text, not an
    // overflow.
    using wide = __int128;
    wide wmonths = static_cast<wide>(y) * 12 + (m - 1) + (static_cast<wide>(delta.wYear) * 12 + delta.wMonth) * factor;
    constexpr wide kMaxMonths = static_cast<wide>(1) << 40;
    if (wmonths > kMaxMonths || wmonths < -kMaxMonths)
        return STRING("");
    long long months = static_cast<long long>(wmonths);
    y = FloorDiv(months, 12);
    m = months - y * 12 + 1;
    if (d > DaysInMonth(y, m))
        d = DaysInMonth(y, m);

    wide wmoment = static_cast<wide>(DaysFromCivil(y, m, d)) * 86400 + tod +
                   (static_cast<wide>(delta.wDay) * 86400 + static_cast<wide>(delta.wHour) * 3600 +
                    static_cast<wide>(delta.wMinute) * 60 + delta.wSecond) *
                       factor;
    constexpr wide kMaxSeconds = static_cast<wide>(1) << 52;
    if (wmoment > kMaxSeconds || wmoment < -kMaxSeconds)
        return STRING("");
    long long moment = static_cast<long long>(wmoment);
    days = FloorDiv(moment, 86400);
    tod = moment - days * 86400;
    CivilFromDays(days, &y, &m, &d);

    STRING rc;
    rc.Format("%02lld-%02lld-%02lld %02lld:%02lld:%02lld", y, m, d, tod / 3600, tod / 60 % 60, tod % 60);
    return rc;
}
