#pragma once

// What this binary calls itself: the build number (crash traces, the manager,
// the web client's path), the version string and the release label. The build
// sets them with -DMESSAGES_BUILD="...", -DMESSAGES_VERSION="...",
// -DMESSAGES_LABEL="..."; a developer build has the defaults.
extern const char* const messagesBuild;
extern const char* const messagesVersion;
extern const char* const messagesLabel;
// False for a developer build, whose build number stays the same across builds.
extern const bool messagesNumberedBuild;
