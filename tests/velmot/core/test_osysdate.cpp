// Dates and times, checked against python3's datetime (datetime_ref.py).
#include "velmot/core/osys.h"
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Asks the python reference; one answer line per request line.
std::vector<std::string> Python(std::vector<std::string> const& requests)
{
    std::string input;
    for (auto const& r : requests)
        input += r + "\n";
    std::string out;
    int rc = testutil::RunProgram({"python3", testutil::SourceDir() + "/velmot/core/datetime_ref.py"}, &out, input);
    EXPECT_EQ(0, rc);
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    EXPECT_EQ(requests.size(), lines.size());
    lines.resize(requests.size());
    return lines;
}

std::string Fields(_SYSTEMTIME const& st)
{
    char buf[96];
    snprintf(buf, sizeof buf, "%d %d %d %d %d %d %d", st.wYear, st.wMonth, st.wDayOfWeek, st.wDay, st.wHour,
             st.wMinute, st.wSecond);
    return buf;
}

_SYSTEMTIME Make(int y, int mo, int d, int h, int mi, int s)
{
    _SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    st.wDayOfWeek = 3;       // not used by the conversions
    st.wMilliseconds = 999;  // not used either
    return st;
}

// Runs the test body with a time zone and locale of its own.
class Dates : public ::testing::Test {
protected:
    void SetZone(char const* tz)
    {
        setenv("TZ", tz, 1);
        tzset();
    }
    void SetUp() override
    {
        char const* tz = getenv("TZ");
        hadTz_ = tz != nullptr;
        oldTz_ = tz ? tz : "";
        char const* all = getenv("LC_ALL");
        hadAll_ = all != nullptr;
        oldAll_ = all ? all : "";
    }
    void TearDown() override
    {
        if (hadTz_)
            setenv("TZ", oldTz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        if (hadAll_)
            setenv("LC_ALL", oldAll_.c_str(), 1);
        else
            unsetenv("LC_ALL");
    }
    bool hadTz_ = false, hadAll_ = false;
    std::string oldTz_, oldAll_;
};

std::vector<unsigned long long> const kMoments = {
    86400,                 // 1970-01-02, a Friday
    951782400,             // 2000-02-29
    1711846799,            // 2024-03-31 00:59:59 UTC, just before the spring change in Berlin
    1711846800,            // and at it
    1729994400,            // 2024-10-27 02:00:00 UTC, after the autumn change
    1719835200,            // a summer noon
    4102444800ULL,         // 2100-01-01 (no leap day in 2100)
};

} // namespace

TEST_F(Dates, BrokenDownTimesAgreeWithPython)
{
    SetZone("Europe/Berlin");
    std::vector<std::string> requests;
    for (auto t : kMoments) {
        requests.push_back("utc " + std::to_string(t));
        requests.push_back("local Europe/Berlin " + std::to_string(t));
    }
    std::vector<std::string> expected = Python(requests);
    for (size_t i = 0; i < kMoments.size(); ++i) {
        SCOPED_TRACE(kMoments[i]);
        _SYSTEMTIME utc = OSYS::SystemtimeFromLtime(kMoments[i]);
        _SYSTEMTIME local = OSYS::LocalSystemtimeFromLtime(kMoments[i]);
        EXPECT_EQ(expected[2 * i], Fields(utc));
        EXPECT_EQ(expected[2 * i + 1], Fields(local));
        // An ltime is a whole second; a past moment gets no milliseconds of
        // the present.
        EXPECT_EQ(0, utc.wMilliseconds);
        EXPECT_EQ(kMoments[i], OSYS::LtimeFromSystemtime(utc));
        EXPECT_EQ(kMoments[i], OSYS::LtimeFromLocalSystemtime(local));
    }
    _SYSTEMTIME friday = OSYS::SystemtimeFromLtime(86400);
    EXPECT_EQ("1970 1 5 2 0 0 0", Fields(friday));
}

TEST_F(Dates, LocalTimesOfBothSeasonsConvertWithTheirOwnOffset)
{
    // Whatever today's season is, one of these dates lies in the other one:
    // taking the daylight-saving state from today would be an hour off.
    SetZone("Europe/Berlin");
    struct Case {
        int y, mo, d, h, mi, s;
    };
    std::vector<Case> const cases = {{2024, 1, 15, 12, 0, 0}, {2024, 7, 15, 12, 0, 0}, {2023, 12, 31, 23, 59, 59},
                                     {2024, 3, 31, 3, 30, 0}, {1970, 1, 1, 1, 0, 0}};
    std::vector<std::string> requests;
    for (Case const& c : cases) {
        char buf[96];
        snprintf(buf, sizeof buf, "mklocal Europe/Berlin %d %d %d %d %d %d", c.y, c.mo, c.d, c.h, c.mi, c.s);
        requests.push_back(buf);
        snprintf(buf, sizeof buf, "mkutc %d %d %d %d %d %d", c.y, c.mo, c.d, c.h, c.mi, c.s);
        requests.push_back(buf);
    }
    std::vector<std::string> expected = Python(requests);
    for (size_t i = 0; i < cases.size(); ++i) {
        Case const& c = cases[i];
        SCOPED_TRACE(requests[2 * i]);
        _SYSTEMTIME st = Make(c.y, c.mo, c.d, c.h, c.mi, c.s);
        EXPECT_EQ(expected[2 * i], std::to_string(OSYS::LtimeFromLocalSystemtime(st)));
        EXPECT_EQ(expected[2 * i + 1], std::to_string(OSYS::LtimeFromSystemtime(st)));
    }
    // Only years after 1969 are converted.
    EXPECT_EQ(0u, OSYS::LtimeFromSystemtime(Make(1969, 12, 31, 23, 59, 59)));
    EXPECT_EQ(0u, OSYS::LtimeFromLocalSystemtime(Make(1900, 1, 1, 0, 0, 0)));
}

TEST_F(Dates, ZeroMeansNow)
{
    SetZone("UTC");
    time_t before = time(nullptr);
    _SYSTEMTIME now = OSYS::LocalSystemtimeFromLtime(0);
    unsigned long long back = OSYS::LtimeFromSystemtime(now);
    EXPECT_GE(back, static_cast<unsigned long long>(before));
    EXPECT_LE(back, static_cast<unsigned long long>(time(nullptr)));

    std::string text = OSYS::DateTimeFromLtime(0).Buf();
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d{4}-\d\d-\d\d  \d\d:\d\d:\d\d)"))) << text;
    EXPECT_EQ(std::string(OSYS::DateTimeFromLtime(86400).Buf()), "1970-01-02  00:00:00");
}

TEST_F(Dates, CalendarArithmeticAgreesWithPython)
{
    struct Case {
        char const* text;
        int fields[6]; // what the text reads as
        int delta[6];  // years, months, days, hours, minutes, seconds
        int factor;
    };
    std::vector<Case> const cases = {
        {"2024-03-15  10:20:30", {2024, 3, 15, 10, 20, 30}, {0, 1, 0, 0, 0, 0}, -1},  // one month back
        {"2024-03-31  10:00:00", {2024, 3, 31, 10, 0, 0}, {0, 1, 0, 0, 0, 0}, -1},    // to the 29th of February
        {"2023-03-31  10:00:00", {2023, 3, 31, 10, 0, 0}, {0, 1, 0, 0, 0, 0}, -1},    // to the 28th
        {"2024-01-31 23:59:59", {2024, 1, 31, 23, 59, 59}, {0, 0, 0, 0, 0, 1}, 1},    // into February
        {"2024-02-29  12:00:00", {2024, 2, 29, 12, 0, 0}, {1, 0, 0, 0, 0, 0}, 1},     // no 29th next year
        {"2024-02-29  12:00:00", {2024, 2, 29, 12, 0, 0}, {4, 0, 0, 0, 0, 0}, 1},
        {"2024-03-30  12:00:00", {2024, 3, 30, 12, 0, 0}, {0, 0, 1, 0, 0, 0}, 1},     // across the spring change: 24 h
        {"2024-10-26  12:00:00", {2024, 10, 26, 12, 0, 0}, {0, 0, 0, 24, 0, 0}, 1},
        {"2024-12-31  23:00:00", {2024, 12, 31, 23, 0, 0}, {0, 0, 0, 1, 30, 0}, 3},
        {"2024-05-20", {2024, 5, 20, 0, 0, 0}, {0, 0, 10, 0, 0, 0}, -2},              // missing time reads as 0
        {"2024-02-30  00:00:00", {2024, 2, 30, 0, 0, 0}, {0, 0, 0, 0, 0, 0}, 1},      // an impossible day rolls on
        {"1999-12-31  23:59:59", {1999, 12, 31, 23, 59, 59}, {0, 13, 1, 1, 1, 1}, 1},
        {"2024-06-15  08:00:00", {2024, 6, 15, 8, 0, 0}, {1, 2, 3, 4, 5, 6}, -7},
        {"2000-01-01  00:00:00", {2000, 1, 1, 0, 0, 0}, {0, 0, 0, 0, 0, 65535}, 1},
    };
    std::vector<std::string> requests;
    for (Case const& c : cases) {
        std::string r = "arith";
        for (int v : c.fields)
            r += ' ' + std::to_string(v);
        for (int v : c.delta)
            r += ' ' + std::to_string(v);
        r += " " + std::to_string(c.factor);
        requests.push_back(r);
    }
    std::vector<std::string> expected = Python(requests);
    for (size_t i = 0; i < cases.size(); ++i) {
        Case const& c = cases[i];
        SCOPED_TRACE(requests[i]);
        _SYSTEMTIME delta{};
        delta.wYear = static_cast<WORD>(c.delta[0]);
        delta.wMonth = static_cast<WORD>(c.delta[1]);
        delta.wDay = static_cast<WORD>(c.delta[2]);
        delta.wHour = static_cast<WORD>(c.delta[3]);
        delta.wMinute = static_cast<WORD>(c.delta[4]);
        delta.wSecond = static_cast<WORD>(c.delta[5]);
        delta.wDayOfWeek = 6;     // not used
        delta.wMilliseconds = 500; // not used
        EXPECT_EQ(expected[i], std::string(OSYS::DateTimeArithmetic(c.text, delta, c.factor).Buf()));
    }
}

TEST_F(Dates, ArithmeticOnNonsenseStaysBounded)
{
    _SYSTEMTIME delta{};
    delta.wYear = 65535;
    delta.wDay = 65535;
    // A factor that no calendar holds gives an empty text, not an overflow.
    EXPECT_STREQ("", OSYS::DateTimeArithmetic("2024-01-01  00:00:00", delta, 2147483647).Buf());
    EXPECT_STREQ("", OSYS::DateTimeArithmetic("2024-01-01  00:00:00", delta, -2147483647 - 1).Buf());
    // Garbage reads as zero fields and still gives a text.
    _SYSTEMTIME none{};
    EXPECT_STRNE("", OSYS::DateTimeArithmetic("garbage", none, 1).Buf());
    EXPECT_STRNE("", OSYS::DateTimeArithmetic(nullptr, none, 1).Buf());
    // Years beyond a hundred million are no calendar any more.
    EXPECT_STREQ("", OSYS::DateTimeArithmetic("2147483647-2147483647-2147483647  2147483647:1:1", none, 1).Buf());
}

TEST_F(Dates, LocalizedTextsInTheCLocale)
{
    SetZone("UTC");
    setenv("LC_ALL", "C", 1);
    // The C locale's styles: "%x" for the short date, "%X" for the time.
    EXPECT_STREQ("01/01/71  01:01:01", OSYS::DateTimeFromLtimeLocalized(365 * 86400 + 3661).Buf());

    std::string date = OSYS::CurrentDateLocalized().Buf();
    EXPECT_TRUE(std::regex_match(date, std::regex(R"(\d\d/\d\d/\d\d  )"))) << date;
    std::string longdate = OSYS::CurrentDateLocalizedLong().Buf();
    EXPECT_TRUE(std::regex_match(longdate, std::regex(R"([A-Z][a-z]+day, \d{1,2} [A-Z][a-z]+ \d{4}  )")))
        << longdate;
    std::string time = OSYS::CurrentTimeLocalized().Buf();
    EXPECT_TRUE(std::regex_match(time, std::regex(R"(  \d\d:\d\d:\d\d)"))) << time;

    // A locale this system does not have falls back to C.
    setenv("LC_ALL", "xx_YY.UTF-8", 1);
    EXPECT_STREQ("01/01/71  01:01:01", OSYS::DateTimeFromLtimeLocalized(365 * 86400 + 3661).Buf());
}
