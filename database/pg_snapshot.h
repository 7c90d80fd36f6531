#pragma once

#include <vector>

// Which transactions a statement saw committed: PostgreSQL's
// pg_current_snapshot() in its text form "xmin:xmax:xip,...". Compared with
// the transaction of a write known to have committed, it tells whether the
// statement's result holds that write, whatever order the connections'
// answers came in.
class PgSnapshot {
public:
    // An unknown snapshot for a text not of that form.
    void Parse(const char* text);
    bool Known() const { return xmax != 0; }
    // Whether the statement saw the committed transaction `xid`. False
    // while unknown, and for xid 0 (no transaction).
    bool Holds(unsigned long long xid) const;

private:
    unsigned long long xmin = 0;
    unsigned long long xmax = 0;
    // Running when the snapshot was taken.
    std::vector<unsigned long long> running;
};
