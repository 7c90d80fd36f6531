#pragma once

#include <deque>
#include <list>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "database/database.h"

class PSQLPreparedStatement;

// The statement shapes of one connection (IDatabase::ExecSQLParams) and
// what was prepared for them. It is the user of the prepare commands that
// the connection queues for itself, and owns the statements they make.
class PSQLShapes : public UDatabase {
public:
    PSQLShapes() = default;
    PSQLShapes(const PSQLShapes&) = delete;
    PSQLShapes& operator=(const PSQLShapes&) = delete;
    ~PSQLShapes() override;

    // The statement prepared for the shape; null until its prepare is done.
    PSQLPreparedStatement* Find(const std::string& shape);
    // Whether to prepare the shape now under the statement name: the second
    // time it is seen, so that shapes made for one occasion stay text. A
    // shape whose prepare fails stays text.
    bool Claim(const std::string& shape, const char* name);

private:
    struct Entry {
        // Null while its prepare is queued, or when it failed.
        PSQLPreparedStatement* statement;
        std::list<std::string>::iterator used;
    };
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabasePrepareStatementResult(IDatabase* db, IPreparedStatement* statement) override;

    // A filter of any structure makes a shape of its own: beyond this many,
    // the least recently used goes, so that no peer can fill the server's memory.
    static const size_t MAX_SHAPES = 256;
    std::unordered_map<std::string, Entry> shapes;
    // The shapes, most recently used first.
    std::list<std::string> used;
    // Shapes seen once; forgotten all together when there are too many.
    std::unordered_set<std::string> seen;
    // The statement name and shape of each queued prepare, in queue order:
    // each ends in one result or one error, in that order.
    std::deque<std::pair<std::string, std::string>> pending;
};
