#pragma once

// The tray's pictures, numbered as their files are (Picture1.xpm ...); Idle is also the
// window's icon.
enum class TrayPicture {
    Idle = 1,
    ServerData,     // data came from the mail server
    ClientData,     // data came from the mail client
    OpenedFromMenu, // the window was opened from the tray menu
};

inline constexpr int TrayPictureCount = int(TrayPicture::OpenedFromMenu);
