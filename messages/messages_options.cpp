#include "messages/messages_options.h"

void MessagesOptions::WebserverOptionsRequestAcceptComplete(IWebserverOptions* options)
{
    options->SetSupportedRequests(0x1FF7);
    options->SetHeaderField("Access-Control-Allow-Origin", "*");
    options->SetHeaderField("Access-Control-Allow-Headers", "content-type");
    options->Close();
}

void MessagesOptions::WebserverOptionsCloseComplete(IWebserverOptions* options)
{
    delete options;
    delete this;
}
