// What the load generator counts: the latencies of each request type, the
// delivery delays of live updates, and the ways a request can go wrong.
#pragma once

#include <stdio.h>

#include <string>
#include <vector>

#include "bench/app_session.h"

namespace bench {

// The requests a simulated person makes, in the order of the report.
enum RequestType { SET_FILTER, GET_MORE, SET_UNREAD_FILTER, DISCUSSION, SET_READ, LIKE, UPDATE, POST, LOGIN, TYPES };

const char* const kTypeNames[TYPES] = {"SetFilter", "GetMore", "SetUnreadFilter", "Discussion", "SetRead",
                                       "Like",      "Update",  "Post",            "Login"};
const char* const kResultNames[TYPES] = {"SetFilterResult", "GetMoreResult", "SetUnreadFilterResult",
                                         "DiscussionResult", "SetReadResult", "LikeResult",
                                         "UpdateResult",     "PostResult",    "AppLoginResult"};

struct TypeStats {
    std::vector<double> millis;
    unsigned errors = 0;    // replies with "error": true
    unsigned timeouts = 0;  // no reply within the timeout
};

struct LoadStats {
    TypeStats types[TYPES];
    std::vector<double> delivery;  // post sent to "Add" arrived, per receiving session
    unsigned disconnects = 0;

    unsigned Errors() const
    {
        unsigned n = 0;
        for (auto& t : types) n += t.errors;
        return n;
    }
    unsigned Timeouts() const
    {
        unsigned n = 0;
        for (auto& t : types) n += t.timeouts;
        return n;
    }

    // The table, a line per type that had requests. Percentile reorders, so it
    // works on copies.
    void PrintTable(FILE* f) const
    {
        fprintf(f, "  %-16s %8s %9s %9s %9s %7s %8s\n", "type", "count", "p50_ms", "p99_ms", "max_ms", "errors",
                "timeouts");
        for (int t = 0; t < TYPES; t++) {
            std::vector<double> v = types[t].millis;
            if (v.empty() && !types[t].errors && !types[t].timeouts) continue;
            fprintf(f, "  %-16s %8zu %9.2f %9.2f %9.2f %7u %8u\n", kTypeNames[t], v.size(), Percentile(v, 0.5),
                    Percentile(v, 0.99), Percentile(v, 1.0), types[t].errors, types[t].timeouts);
        }
        std::vector<double> d = delivery;
        fprintf(f, "  %-16s %8zu %9.2f %9.2f %9.2f\n", "live Add", d.size(), Percentile(d, 0.5), Percentile(d, 0.99),
                Percentile(d, 1.0));
    }

    // The type with the highest p99 among the measured requests (logins of
    // the ramp are not part of the load), and that p99.
    std::pair<int, double> WorstP99() const
    {
        std::pair<int, double> worst{-1, 0};
        for (int t = 0; t < LOGIN; t++) {
            std::vector<double> v = types[t].millis;
            double p99 = Percentile(v, 0.99);
            if (!v.empty() && p99 >= worst.second) worst = {t, p99};
        }
        return worst;
    }
};

}  // namespace bench
