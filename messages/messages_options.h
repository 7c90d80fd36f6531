#pragma once

#include "web/webserver_options.h"

// Answers an OPTIONS request with what the instance supports, then goes away.
class MessagesOptions : public UWebserverOptions {
public:
    void WebserverOptionsRequestAcceptComplete(IWebserverOptions* options) override;
    // Deletes the handler and this object.
    void WebserverOptionsCloseComplete(IWebserverOptions* options) override;
};
