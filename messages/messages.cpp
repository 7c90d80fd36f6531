#include "messages/messages.h"

#include "service/app_args.h"
#include "service/app_service.h"

Messages::Messages(IIoMux* iomux, AppService* service, AppInstanceArgs* args)
    : AppInstance(service, args), iomux(iomux)
{
    logFlags |= LOG_APP_WEBSOCKET | LOG_DATABASE;
    Log("App instance started");
}

Messages::~Messages()
{
    iomux->CancelSetExec(this);
}

void Messages::Stop()
{
    if (stopping) return;
    Log("App instance stopping");
    stopping = true;
    // The report must not come from inside the caller's Stop().
    iomux->SetExec(this, nullptr);
}

void Messages::IoExec(void*)
{
    TryStop();
}

void Messages::TryStop()
{
    // Deletes this object.
    if (stopping) service->AppStopped(this);
}
