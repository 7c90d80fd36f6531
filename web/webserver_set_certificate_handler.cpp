#include "web/webserver_set_certificate_handler.h"

#include <algorithm>
#include <string>

#include "web/extended_header.h"
#include "web/webserver_plugin_link.h"

WebserverSetCertificateHandler::WebserverSetCertificateHandler(IIoMux* iomux, WebserverPlugin* link,
                                                               UWebserverPlugin* owner, unsigned char* certificate)
    : iomux(iomux), link(link), owner(owner), certificate(certificate)
{
}

WebserverSetCertificateHandler::~WebserverSetCertificateHandler()
{
    iomux->CancelSetExec(this);
}

void WebserverSetCertificateHandler::Start(const char* host, const unsigned char* data, unsigned length,
                                           const char* password)
{
    ExtendedHeader eh(link->IsWide());
    eh.SetString(DDT_CERTIFICATE_HOST, host);
    if (password) eh.SetString(DDT_CERTIFICATE_PASSWORD, password);
    eh.SetU32(DDT_CERTIFICATE_SIZE, length);
    std::string body = eh.Encode();
    size_t first = std::min<size_t>(length, WS_MAX_DATA_SIZE - body.size());
    body.append((const char*)data, first);
    link->SendFrame(WS_LINK_CONNECTION_ID, WSM_SET_CERTIFICATE, 0, body.data(), body.size());
    for (size_t at = first; at < length; at += WS_MAX_DATA_SIZE) {
        size_t n = std::min<size_t>(length - at, WS_MAX_DATA_SIZE);
        link->SendFrame(WS_LINK_CONNECTION_ID, WSM_SET_CERTIFICATE, 1, data + at, n);
    }
    iomux->SetExec(this, nullptr);
}

void WebserverSetCertificateHandler::IoExec(void*)
{
    WebserverPlugin* l = link;
    UWebserverPlugin* o = owner;
    unsigned char* c = certificate;
    l->CertificateDone(this);
    if (o) o->WebserverPluginSendCertificateResult(l, c);
}
