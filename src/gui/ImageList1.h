#pragma once

#include "relay/TrayPicture.h"

#include <QIcon>

// The tray pictures, drawn in files numbered as TrayPicture is.
namespace ImageList1 {

inline constexpr int Count = int(TrayPicture::OpenedFromMenu);

// A null icon for a value outside the enumeration.
QIcon Picture(TrayPicture picture);

} // namespace ImageList1
