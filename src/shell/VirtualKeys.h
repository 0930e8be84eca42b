#pragma once

#include <Qt>

// The handlers take the key codes the settings and console logic are written against
// (Windows virtual-key codes); Qt's key numbers are translated here. 0 for keys nobody uses.
inline constexpr int VirtualKeyEnter = 13;
inline constexpr int VirtualKeyInsert = 45;
inline constexpr int VirtualKeyDelete = 46;

constexpr int VirtualKeyCode(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VirtualKeyEnter;
    case Qt::Key_Insert:
        return VirtualKeyInsert;
    case Qt::Key_Delete:
        return VirtualKeyDelete;
    default:
        return 0;
    }
}
