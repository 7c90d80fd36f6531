#include "dbfiles/dbfiles_store.h"

namespace {

class DbFilesProvider : public IDbFilesProvider {
public:
    IDbFiles* CreateDbFiles(IIoMux* iomux, IInstanceLog* log, const unsigned char* key) override
    {
        return new DbFiles(iomux, log, key);
    }
};

}  // namespace

IDbFilesProvider* CreateDbFilesProvider()
{
    return new DbFilesProvider();
}
