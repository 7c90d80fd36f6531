#include "database/database.h"
#include "database/postgresql_database.h"

namespace {
class PostgreSQLDatabaseProvider : public IDatabaseProvider {
public:
    explicit PostgreSQLDatabaseProvider(db_bytes_params_t bytesParams) : bytesParams(bytesParams) {}
    IDatabase* CreateDatabase(IIoMux* iomux, UDatabase* owner, IInstanceLog* log) override
    {
        return new PostgreSQLDatabase(iomux, owner, log, bytesParams);
    }

private:
    db_bytes_params_t bytesParams;
};
}  // namespace

IDatabaseProvider* CreatePostgreSQLDatabaseProvider(db_bytes_params_t bytesParams)
{
    return new PostgreSQLDatabaseProvider(bytesParams);
}
