#pragma once

#include "relay/TrayPicture.h"

#include <QIcon>

// The tray pictures as icons, drawn in files numbered as TrayPicture is; a null icon for a value
// outside the enumeration.
QIcon TrayPictureIcon(TrayPicture picture);
