#pragma once

class IWebserverPlugin;

// A GET below the web path that names no file of the static table. The web
// path itself and the current build's folder lead to the app page; a path
// outside the current build is redirected into it; what is still missing is
// answered with a small page (status 404) that links to the app page.
void MessagesRouteStatic(IWebserverPlugin* link, const char* resource);
