// Finds, describes and closes top-level windows for the end-to-end tests under Wine.
//
//   ui_helper wait [--exe NAME] [--caption TEXT] [--class NAME] [--timeout MS] [--close ok|esc|closebox]
//       waits for a visible top-level window that matches, prints it as one JSON object on
//       stdout (caption, class, rectangle, screen size, foreground, process image, controls
//       with id, class, text, visibility and rectangle), then closes it as asked.
//       Exit code 0 when found, 1 on time-out.
//   ui_helper absent [same filters] [--timeout MS]   exit 0 when no such window shows in that time.
//   ui_helper foreground                             prints the foreground window as JSON.
//   ui_helper timeline [same filters] --timeout MS   prints "watching", then for MS ms notes when
//       each matching window becomes visible and stops being visible, and every change of the
//       foreground window; prints both as one JSON object at the end (times in ms from the start).
//       With --hidden 1 hidden windows count too: a sighting then lasts from creation to destruction.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Filter {
    std::string exe, caption, className;
    bool includeHidden = false;
};

std::string json(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string windowText(HWND window) {
    // WM_GETTEXT works across processes for standard controls, unlike GetWindowText.
    const LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
    std::vector<char> text(static_cast<std::size_t>(length) + 2);
    SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    return text.data();
}

std::string className(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string processImage(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return "";
    char path[MAX_PATH] = "";
    DWORD size = sizeof path;
    QueryFullProcessImageNameA(process, 0, path, &size);
    CloseHandle(process);
    const char* slash = std::strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

std::string rect(const RECT& r) {
    return "[" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) + ", " +
           std::to_string(r.bottom) + "]";
}

bool matches(HWND window, const Filter& filter) {
    if (!filter.includeHidden && !IsWindowVisible(window)) return false;
    if (!filter.className.empty() && className(window) != filter.className) return false;
    if (!filter.caption.empty() && windowText(window) != filter.caption) return false;
    if (!filter.exe.empty() && _stricmp(processImage(window).c_str(), filter.exe.c_str()) != 0) return false;
    return true;
}

struct Search {
    const Filter* filter;
    HWND found;
};

HWND findWindow(const Filter& filter) {
    Search search{&filter, nullptr};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            if (!matches(window, *s->filter)) return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Which kind of system icon a static control shows, told by the colour on the screen: the
// error icon is red, the information icon blue, the warning icon yellow. (An icon handle of
// another process cannot be drawn or compared here under Wine.)
std::string iconName(HWND control) {
    if (!SendMessageA(control, STM_GETICON, 0, 0)) return "null";
    RECT r;
    GetWindowRect(control, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    BitBlt(dc, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    int red = 0, blue = 0, yellow = 0;
    const auto* pixels = static_cast<const std::uint8_t*>(bits); // B, G, R, unused
    for (int i = 0; i < width * height; ++i) {
        const int b = pixels[4 * i], g = pixels[4 * i + 1], rr = pixels[4 * i + 2];
        if (rr > 150 && g < 100 && b < 100) ++red;
        if (b > 150 && rr < 100) ++blue;
        if (rr > 180 && g > 150 && b < 80) ++yellow;
    }
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    const int most = std::max(red, std::max(blue, yellow));
    if (most < 20) return json("other");
    return json(most == red ? "error" : most == blue ? "information" : "warning");
}

std::string describe(HWND window) {
    RECT bounds;
    GetWindowRect(window, &bounds);
    std::string out = "{\"hwnd\": " + std::to_string(reinterpret_cast<std::uintptr_t>(window)) +
                      ", \"caption\": " + json(windowText(window)) + ", \"class\": " + json(className(window)) +
                      ", \"exe\": " + json(processImage(window)) + ", \"rect\": " + rect(bounds) +
                      ", \"screen\": [" + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + ", " +
                      std::to_string(GetSystemMetrics(SM_CYSCREEN)) + "], \"foreground\": " +
                      (GetForegroundWindow() == window ? "true" : "false") + ", \"controls\": [";
    bool first = true;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r;
        GetWindowRect(child, &r);
        const std::string cls = className(child);
        out += std::string(first ? "" : ", ") + "{\"id\": " + std::to_string(static_cast<short>(GetDlgCtrlID(child))) +
               ", \"class\": " + json(cls) + ", \"text\": " + json(windowText(child)) +
               ", \"visible\": " + (IsWindowVisible(child) ? "true" : "false") + ", \"rect\": " + rect(r);
        if (_stricmp(cls.c_str(), "Edit") == 0) {
            const LONG style = GetWindowLongA(child, GWL_STYLE);
            out += std::string(", \"readonly\": ") + ((style & ES_READONLY) ? "true" : "false") +
                   ", \"hscroll\": " + ((style & WS_HSCROLL) ? "true" : "false") +
                   ", \"vscroll\": " + ((style & WS_VSCROLL) ? "true" : "false");
        }
        if (_stricmp(cls.c_str(), "Static") == 0) out += ", \"icon\": " + iconName(child);
        out += "}";
        first = false;
    }
    return out + "]}";
}

void closeWindow(HWND window, const std::string& how) {
    if (how == "ok") {
        HWND button = GetDlgItem(window, IDOK);
        if (button) {
            PostMessageA(button, BM_CLICK, 0, 0);
        } else {
            PostMessageA(window, WM_COMMAND, IDOK, 0);
        }
    } else if (how == "esc") {
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0); // what the dialog manager makes of Esc
    } else if (how == "closebox") {
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
}

struct Sighting {
    HWND window;
    std::string caption, className;
    RECT bounds;
    DWORD shown;
    long hidden; // -1 while visible
    bool everVisible;
};

struct Visible {
    const Filter* filter;
    std::vector<HWND> windows;
};

BOOL CALLBACK collectVisible(HWND window, LPARAM parameter) {
    auto* v = reinterpret_cast<Visible*>(parameter);
    if (matches(window, *v->filter)) v->windows.push_back(window);
    return TRUE;
}

// Polls every 20 ms; a window counts as gone once it is hidden or destroyed.
int timeline(const Filter& filter, DWORD duration) {
    std::printf("watching\n");
    std::fflush(stdout);
    std::vector<Sighting> sightings;
    std::string foreground = "[";
    HWND lastForeground = reinterpret_cast<HWND>(-1);
    const DWORD start = GetTickCount();
    for (;;) {
        Visible visible{&filter, {}};
        EnumWindows(collectVisible, reinterpret_cast<LPARAM>(&visible));
        const DWORD now = GetTickCount() - start;
        for (Sighting& s : sightings) {
            if (s.hidden < 0 && std::find(visible.windows.begin(), visible.windows.end(), s.window) == visible.windows.end())
                s.hidden = static_cast<long>(now);
        }
        for (HWND window : visible.windows) {
            auto open = std::find_if(sightings.begin(), sightings.end(),
                                     [&](const Sighting& s) { return s.window == window && s.hidden < 0; });
            if (open == sightings.end()) {
                sightings.push_back({window, windowText(window), className(window), {}, now, -1, false});
                open = sightings.end() - 1;
            }
            GetWindowRect(window, &open->bounds);
            if (IsWindowVisible(window)) open->everVisible = true;
        }
        HWND current = GetForegroundWindow();
        if (current != lastForeground) {
            foreground += std::string(foreground.size() > 1 ? ", " : "") + "{\"t\": " + std::to_string(now) +
                          ", \"hwnd\": " + std::to_string(reinterpret_cast<std::uintptr_t>(current)) +
                          ", \"caption\": " + json(current ? windowText(current) : "") + "}";
            lastForeground = current;
        }
        if (now > duration) break;
        Sleep(20);
    }
    std::string out = "{\"screen\": [" + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + ", " +
                      std::to_string(GetSystemMetrics(SM_CYSCREEN)) + "], \"windows\": [";
    for (std::size_t i = 0; i < sightings.size(); ++i) {
        const Sighting& s = sightings[i];
        out += std::string(i ? ", " : "") + "{\"hwnd\": " + std::to_string(reinterpret_cast<std::uintptr_t>(s.window)) +
               ", \"caption\": " + json(s.caption) + ", \"class\": " + json(s.className) + ", \"rect\": " +
               rect(s.bounds) + ", \"shown\": " + std::to_string(s.shown) +
               ", \"hidden\": " + (s.hidden < 0 ? std::string("null") : std::to_string(s.hidden)) +
               ", \"ever_visible\": " + (s.everVisible ? "true" : "false") + "}";
    }
    std::printf("%s], \"foreground\": %s]}\n", out.c_str(), foreground.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: ui_helper wait|absent|foreground|timeline [options]\n");
        return 2;
    }
    const std::string command = argv[1];
    Filter filter;
    DWORD timeout = 10000;
    std::string close;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--exe") filter.exe = value;
        else if (option == "--caption") filter.caption = value;
        else if (option == "--class") filter.className = value;
        else if (option == "--timeout") timeout = static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 10));
        else if (option == "--close") close = value;
        else if (option == "--hidden") filter.includeHidden = value == "1";
    }
    if (command == "foreground") {
        HWND window = GetForegroundWindow();
        std::printf("%s\n", window ? describe(window).c_str() : "null");
        return 0;
    }
    if (command == "timeline") return timeline(filter, timeout);
    const DWORD start = GetTickCount();
    for (;;) {
        HWND window = findWindow(filter);
        if (window && command == "wait") {
            Sleep(200); // let the window finish painting and settle its position
            std::printf("%s\n", describe(window).c_str());
            std::fflush(stdout);
            if (!close.empty()) closeWindow(window, close);
            return 0;
        }
        if (window && command == "absent") {
            std::printf("%s\n", describe(window).c_str());
            return 1;
        }
        if (GetTickCount() - start > timeout) return command == "absent" ? 0 : 1;
        Sleep(50);
    }
}
