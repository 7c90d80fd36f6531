#pragma once

#include "runtime/iomux.h"
#include "service/app_instance.h"

class AppService;
class AppInstanceArgs;

// One running app instance. Until its database, webserver link and sessions
// are attached it only knows how to start and stop.
class Messages : public AppInstance, public UIoExec {
public:
    Messages(IIoMux* iomux, AppService* service, AppInstanceArgs* args);
    ~Messages() override;
    void Stop() override;
    void IoExec(void* param) override;

private:
    void TryStop();

    IIoMux* iomux;
    bool stopping = false;
};
