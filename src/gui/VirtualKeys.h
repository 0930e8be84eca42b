#pragma once

#include "settings/VirtualKey.h"

#include <Qt>

// Qt's key numbers translated for the handlers; zero for keys nobody uses.
constexpr VirtualKey VirtualKeyCode(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VirtualKey::Enter;
    case Qt::Key_Insert:
        return VirtualKey::Insert;
    case Qt::Key_Delete:
        return VirtualKey::Delete;
    default:
        return VirtualKey{};
    }
}
