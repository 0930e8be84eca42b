#pragma once

#include "app/AppOptions.h"

// `quorlin --client-certificate`: what a user needs to make mail clients trust the certificate
// Quorlin shows them (made first when there is none yet), on standard output; the exit status.
int PrintClientCertificate(const AppOptions& options);
