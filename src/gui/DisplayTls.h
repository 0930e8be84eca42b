#pragma once

class DesktopSession;

// Notes the mode in the caption, and answers a refused certificate with the log report and the
// trust dialog. Called once the window has loaded and before the event loop runs, so no client
// has been served yet.
void InstallServerTls(DesktopSession& session);
