// libX11 is opened at run time, so the service neither needs it to build nor to run without a
// display; the keys-down file lets tests hold keys where there is no keyboard at all.
#include "platform/keys.h"

#include "platform/pipe.h"

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <string>

namespace qor::platform {

namespace {

// The few Xlib entry points used, with the display as an opaque pointer.
using XOpenDisplayFn = void* (*)(const char*);
using XQueryKeymapFn = int (*)(void*, char*);
using XKeysymToKeycodeFn = unsigned char (*)(void*, unsigned long);

struct X11Keyboard {
    void* display = nullptr;
    XQueryKeymapFn queryKeymap = nullptr;
    XKeysymToKeycodeFn keysymToKeycode = nullptr;
};

// Opened once, on the first reading, and kept for the process's life (as the display connection
// of a GUI program would be).
X11Keyboard& Keyboard() {
    static X11Keyboard keyboard = [] {
        X11Keyboard opened;
        if (std::getenv("DISPLAY") == nullptr) return opened;
        void* library = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return opened;
        auto open = reinterpret_cast<XOpenDisplayFn>(::dlsym(library, "XOpenDisplay"));
        opened.queryKeymap = reinterpret_cast<XQueryKeymapFn>(::dlsym(library, "XQueryKeymap"));
        opened.keysymToKeycode = reinterpret_cast<XKeysymToKeycodeFn>(::dlsym(library, "XKeysymToKeycode"));
        if (open != nullptr && opened.queryKeymap != nullptr && opened.keysymToKeycode != nullptr) {
            opened.display = open(nullptr);
        }
        return opened;
    }();
    return keyboard;
}
// One display connection is not to be used by two threads at once.
std::mutex keyboardMutex;

// The X keysyms of a virtual-key code; 0 for none. The generic modifiers take either side.
void KeysymsOf(uint16_t key, unsigned long* first, unsigned long* second) {
    *first = *second = 0;
    if (key >= 'A' && key <= 'Z') *first = key + ('a' - 'A');
    else if (key >= '0' && key <= '9') *first = key;
    else if (key >= 0x70 && key <= 0x87) *first = 0xffbe + (key - 0x70);  // F1 to F24
    else if (key >= 0x25 && key <= 0x28) *first = 0xff51 + (key - 0x25);  // arrows
    else {
        switch (key) {
            case 0x08: *first = 0xff08; break;  // back space
            case 0x09: *first = 0xff09; break;  // tab
            case 0x0D: *first = 0xff0d; break;  // return
            case 0x1B: *first = 0xff1b; break;  // escape
            case 0x20: *first = 0x20; break;    // space
            case 0x10: *first = 0xffe1; *second = 0xffe2; break;  // shift
            case 0x11: *first = 0xffe3; *second = 0xffe4; break;  // control
            case 0x12: *first = 0xffe9; *second = 0xffea; break;  // alt
            case 0xA0: *first = 0xffe1; break;
            case 0xA1: *first = 0xffe2; break;
            case 0xA2: *first = 0xffe3; break;
            case 0xA3: *first = 0xffe4; break;
            case 0xA4: *first = 0xffe9; break;  // left alt
            case 0xA5: *first = 0xffea; break;
            default: break;
        }
    }
}

bool X11KeyDown(const X11Keyboard& keyboard, const char (&map)[32], uint16_t key) {
    unsigned long syms[2];
    KeysymsOf(key, &syms[0], &syms[1]);
    for (const unsigned long sym : syms) {
        if (sym == 0) continue;
        const unsigned char code = keyboard.keysymToKeycode(keyboard.display, sym);
        if (code != 0 && (map[code / 8] & (1 << (code % 8))) != 0) return true;
    }
    return false;
}

std::set<uint16_t> KeysInFile() {
    std::set<uint16_t> keys;
    std::ifstream file(PipeFolder() + "/keys-down");
    std::string line;
    while (std::getline(file, line)) {
        char* end = nullptr;
        const unsigned long code = std::strtoul(line.c_str(), &end, 0);
        if (end != line.c_str() && code <= 0xFFFF) keys.insert(static_cast<uint16_t>(code));
    }
    return keys;
}

}  // namespace

bool KeysDown(std::initializer_list<uint16_t> virtualKeys) {
    if (virtualKeys.size() == 0) return false;
    const std::set<uint16_t> listed = KeysInFile();
    char map[32] {};
    bool haveMap = false;
    std::lock_guard lock(keyboardMutex);
    const X11Keyboard& keyboard = Keyboard();
    for (const uint16_t key : virtualKeys) {
        if (listed.contains(key)) continue;
        if (keyboard.display == nullptr) return false;
        if (!haveMap) haveMap = keyboard.queryKeymap(keyboard.display, map) != 0;
        if (!haveMap || !X11KeyDown(keyboard, map, key)) return false;
    }
    return true;
}

}  // namespace qor::platform
