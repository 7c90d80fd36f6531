#include "web/json_api.h"

#include <string.h>

void JsonApiContext::AddJsonApiProvider(JsonApiProvider* provider)
{
    JsonApiProvider** at = &providers;
    while (*at) at = &(*at)->next;
    provider->next = nullptr;
    *at = provider;
}

JsonApi* JsonApiContext::CreateJsonApi(const char* name, IJsonApiConnection* connection)
{
    for (JsonApiProvider* p = providers; p; p = p->next) {
        if (!strcmp(p->JsonApiName(), name)) return p->CreateJsonApi(connection);
    }
    return nullptr;
}
