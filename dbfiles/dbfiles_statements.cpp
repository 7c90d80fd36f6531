#include "dbfiles/dbfiles_statements.h"

#include "runtime/assert.h"

namespace {

struct StatementTexts {
    const char* own;
    const char* foreign;
};

const StatementTexts TEXTS[DBFILES_STATEMENTS] = {
    {"INSERT INTO files (name, size, created, modified, folder, is_folder, crypted) VALUES "
     "(%s,%lli,%llu,%llu,%llu,%b,%b) ON CONFLICT (name, folder) DO UPDATE SET created=EXCLUDED.created, "
     "modified=EXCLUDED.modified, crypted=EXCLUDED.crypted RETURNING id, size",
     "INSERT INTO files (name, size, created, modified, folder, crypted) VALUES (%s,%lli,%llu,%llu,%llu,%b) "
     "RETURNING id, 0"},
    {"UPDATE files SET size=%lli WHERE id=%llu", nullptr},
    {"DELETE from files WHERE id=%llu", nullptr},
    {"UPDATE files SET name=%s, folder=%llu WHERE id=%llu", nullptr},
    {"SELECT * FROM files WHERE folder=%llu AND name!=''", "SELECT * FROM files WHERE folder=%llu"},
    {"SELECT * FROM files WHERE folder=%llu AND name!='' LIMIT %llu", "SELECT * FROM files WHERE folder=%llu LIMIT %llu"},
    {"SELECT * FROM files WHERE name=%s AND folder=%llu", nullptr},
    {"INSERT INTO files_data (data, file) VALUES (%du,%llu)", nullptr},
    {"SELECT fd.data, fd.id, f.crypted FROM files_data fd JOIN files f ON (f.id=fd.file) WHERE fd.file=%llu AND "
     "fd.id>=%llu ORDER BY fd.id ASC LIMIT 1",
     nullptr},
    {"SELECT LENGTH(fd.data), fd.id, f.crypted FROM files_data fd JOIN files f ON (f.id=fd.file) WHERE fd.file=%llu "
     "ORDER BY fd.id ASC",
     nullptr},
    {"DELETE from files_data WHERE file=%llu", nullptr},
};

}  // namespace

const char* DbFilesStatementText(unsigned index, bool ownFolders)
{
    ASSERT(index < DBFILES_STATEMENTS, "DbFilesStatementText index out of range");
    const StatementTexts& t = TEXTS[index];
    return ownFolders || !t.foreign ? t.own : t.foreign;
}
