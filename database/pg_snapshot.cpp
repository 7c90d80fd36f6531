#include "database/pg_snapshot.h"

#include <errno.h>
#include <stdlib.h>

#include <algorithm>

namespace {

bool Number(const char*& p, unsigned long long& value)
{
    if (*p < '0' || *p > '9') return false;
    char* end;
    errno = 0;
    value = strtoull(p, &end, 10);
    p = end;
    return errno == 0;
}

}  // namespace

void PgSnapshot::Parse(const char* text)
{
    *this = PgSnapshot();
    const char* p = text ? text : "";
    unsigned long long low, high;
    if (!Number(p, low) || *p++ != ':' || !Number(p, high) || *p++ != ':' || !high || low > high) return;
    std::vector<unsigned long long> xip;
    for (unsigned long long xid; *p && Number(p, xid);) {
        xip.push_back(xid);
        if (*p == ',') p++;
    }
    if (*p) return;
    xmin = low;
    xmax = high;
    running.swap(xip);
}

bool PgSnapshot::Holds(unsigned long long xid) const
{
    if (!Known() || !xid || xid >= xmax) return false;
    return xid < xmin || std::find(running.begin(), running.end(), xid) == running.end();
}
