#pragma once

#include "web/httpfile.h"

// Generated at build time from web-client/.
extern const httpfile webClientFiles[];
extern const unsigned webClientFileCount;
