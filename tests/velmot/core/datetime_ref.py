# Reference answers for the date tests, from python3's datetime, calendar
# and zoneinfo. One request per input line, one answer per output line:
#   utc <ltime>                       -> Y M wday D h m s   (wday 0 = Sunday)
#   local <tz> <ltime>                -> Y M wday D h m s
#   mkutc Y M D h m s                 -> ltime
#   mklocal <tz> Y M D h m s          -> ltime
#   arith Y M D h m s  dY dM dD dh dm ds  factor
#                                     -> "Y-MM-DD hh:mm:ss" (the date
#                                        normalised first, then years and
#                                        months with the day kept or cut to
#                                        the month's last, then the rest)
import calendar
import sys
from datetime import datetime, timedelta, timezone
from zoneinfo import ZoneInfo


def fields(d):
    return "%d %d %d %d %d %d %d" % (d.year, d.month, (d.weekday() + 1) % 7, d.day, d.hour, d.minute, d.second)


def normalised(y, mo, d, h, mi, s):
    y, mo = divmod(y * 12 + mo - 1, 12)
    return datetime(y, mo + 1, 1) + timedelta(days=d - 1, hours=h, minutes=mi, seconds=s)


for line in sys.stdin:
    w = line.split()
    if not w:
        continue
    if w[0] == "utc":
        print(fields(datetime.fromtimestamp(int(w[1]), timezone.utc)))
    elif w[0] == "local":
        print(fields(datetime.fromtimestamp(int(w[2]), ZoneInfo(w[1]))))
    elif w[0] == "mkutc":
        print(calendar.timegm(tuple(int(x) for x in w[1:7]) + (0, 0, 0)))
    elif w[0] == "mklocal":
        y, mo, d, h, mi, s = (int(x) for x in w[2:8])
        print(int(datetime(y, mo, d, h, mi, s, tzinfo=ZoneInfo(w[1])).timestamp()))
    elif w[0] == "arith":
        v = [int(x) for x in w[1:]]
        base = normalised(*v[0:6])
        dy, dmo, dd, dh, dmi, ds, f = v[6:13]
        months = base.year * 12 + base.month - 1 + (dy * 12 + dmo) * f
        y, mo = divmod(months, 12)
        mo += 1
        day = min(base.day, calendar.monthrange(y, mo)[1])
        r = base.replace(year=y, month=mo, day=day)
        r += timedelta(days=dd * f, hours=dh * f, minutes=dmi * f, seconds=ds * f)
        print("%02d-%02d-%02d %02d:%02d:%02d" % (r.year, r.month, r.day, r.hour, r.minute, r.second))
    else:
        print("?")
    sys.stdout.flush()
