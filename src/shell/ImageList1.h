#pragma once

#include <QIcon>

// The tray pictures, numbered from 1: 1 idle (also the window's icon), 2 data from the mail
// server, 3 data from the mail client, 4 window opened from the tray menu.
namespace ImageList1 {

inline constexpr int Count = 4;

// A null icon for a number outside 1..Count.
QIcon Picture(int number);

} // namespace ImageList1
