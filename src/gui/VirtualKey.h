#pragma once

#include <Qt>

// The keys the window's key handlers act on, as Windows virtual-key codes: the codes those
// handlers were written against. Any other key arrives as its own code and is left alone.
enum class VirtualKey {
    Enter = 13,
    Insert = 45,
    Delete = 46,
};

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
