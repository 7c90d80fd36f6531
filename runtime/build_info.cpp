#include "runtime/build_info.h"

#ifdef MESSAGES_BUILD
const bool messagesNumberedBuild = true;
#else
const bool messagesNumberedBuild = false;
#define MESSAGES_BUILD "1"
#endif
#ifndef MESSAGES_VERSION
#define MESSAGES_VERSION "1.0"
#endif
#ifndef MESSAGES_LABEL
#define MESSAGES_LABEL "dev"
#endif

const char* const messagesBuild = MESSAGES_BUILD;
const char* const messagesVersion = MESSAGES_VERSION;
const char* const messagesLabel = MESSAGES_LABEL;
