#pragma once

#include "runtime/iomux.h"
#include "runtime/istd_list.h"

class UWebserverPlugin;
class WebserverPlugin;

// Hands a certificate to the webserver: an extended header with host,
// password and size, then the certificate bytes, in as many messages as
// they need. The webserver does not answer; the owner hears on a later loop
// pass that the certificate was handed on.
class WebserverSetCertificateHandler : public istd::listElement, public UIoExec {
public:
    WebserverSetCertificateHandler(IIoMux* iomux, WebserverPlugin* link, UWebserverPlugin* owner,
                                   unsigned char* certificate);
    ~WebserverSetCertificateHandler() override;
    void Start(const char* host, const unsigned char* certificate, unsigned length, const char* password);
    // Deletes this handler, then tells the owner.
    void IoExec(void* param) override;

private:
    IIoMux* iomux;
    WebserverPlugin* link;
    UWebserverPlugin* owner;
    unsigned char* certificate;
};
