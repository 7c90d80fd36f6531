#include "database/database.h"
#include "database/postgresql_database.h"

namespace {
class PostgreSQLDatabaseProvider : public IDatabaseProvider {
public:
    IDatabase* CreateDatabase(IIoMux* iomux, UDatabase* owner, IInstanceLog* log) override
    {
        return new PostgreSQLDatabase(iomux, owner, log);
    }
};
}  // namespace

IDatabaseProvider* CreatePostgreSQLDatabaseProvider()
{
    return new PostgreSQLDatabaseProvider();
}
