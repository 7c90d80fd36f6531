#include "database/psql_shapes.h"

#include "database/psql_prepared_statement.h"

PSQLShapes::~PSQLShapes()
{
    for (auto& entry : shapes) delete entry.second.statement;
}

PSQLPreparedStatement* PSQLShapes::Find(const std::string& shape)
{
    auto found = shapes.find(shape);
    if (found == shapes.end()) return nullptr;
    used.splice(used.begin(), used, found->second.used);
    return found->second.statement;
}

bool PSQLShapes::Claim(const std::string& shape, const char* name)
{
    if (shapes.count(shape)) return false;
    if (seen.insert(shape).second) {
        if (seen.size() > 4 * MAX_SHAPES) seen = {shape};
        return false;
    }
    seen.erase(shape);
    if (shapes.size() >= MAX_SHAPES) {
        // Deleting a statement frees it on the server too; a prepare still
        // queued for the shape finds no shape when it is done.
        auto oldest = shapes.find(used.back());
        delete oldest->second.statement;
        shapes.erase(oldest);
        used.pop_back();
    }
    used.push_front(shape);
    shapes[shape] = {nullptr, used.begin()};
    pending.emplace_back(name, shape);
    return true;
}

void PSQLShapes::DatabasePrepareStatementResult(IDatabase*, IPreparedStatement* statement)
{
    auto* prepared = static_cast<PSQLPreparedStatement*>(statement);
    // Prepares before this one that left no trace have failed.
    while (!pending.empty() && pending.front().first != prepared->GetName()) pending.pop_front();
    auto shape = pending.empty() ? shapes.end() : shapes.find(pending.front().second);
    if (!pending.empty()) pending.pop_front();
    if (shape == shapes.end() || shape->second.statement) {
        delete prepared;
        return;
    }
    shape->second.statement = prepared;
}

void PSQLShapes::DatabaseError(IDatabase*, db_error_t)
{
    // The shape stays, without a statement: it runs as text from now on.
    if (!pending.empty()) pending.pop_front();
}
