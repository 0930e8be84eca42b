#pragma once

// The keys the settings and console handlers act on, as Windows virtual-key codes: the codes
// those handlers were written against. Any other key arrives as its own code and is left alone.
enum class VirtualKey {
    Enter = 13,
    Insert = 45,
    Delete = 46,
};
