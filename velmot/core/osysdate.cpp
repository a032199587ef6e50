// OSYS: dates and times in the fixed text forms.
#include "velmot/core/osys.h"

#include <ctime>

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
