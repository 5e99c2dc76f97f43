#include "base/dpi.h"

#include <cstddef>
#include <initializer_list>

namespace {

// The calls that Windows 7 lacks, found once. A missing one stays null.
struct DpiFunctions {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    using GetDpiForSystemFn = UINT(WINAPI*)();
    using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
    using SystemParametersInfoForDpiFn = BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT);
    using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    using SetDialogDpiChangeBehaviorFn = BOOL(WINAPI*)(HWND, int, int);
    using GetThreadDpiAwarenessContextFn = void*(WINAPI*)();
    using GetAwarenessFromDpiAwarenessContextFn = int(WINAPI*)(void*);
    using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    using LoadIconWithScaleDownFn = HRESULT(WINAPI*)(HINSTANCE, const wchar_t*, int, int, HICON*);

    GetDpiForWindowFn getDpiForWindow = nullptr;
    GetDpiForSystemFn getDpiForSystem = nullptr;
    GetSystemMetricsForDpiFn getSystemMetricsForDpi = nullptr;
    SystemParametersInfoForDpiFn systemParametersInfoForDpi = nullptr;
    AdjustWindowRectExForDpiFn adjustWindowRectExForDpi = nullptr;
    SetDialogDpiChangeBehaviorFn setDialogDpiChangeBehavior = nullptr;
    GetThreadDpiAwarenessContextFn getThreadDpiAwarenessContext = nullptr;
    GetAwarenessFromDpiAwarenessContextFn getAwarenessFromDpiAwarenessContext = nullptr;
    GetDpiForMonitorFn getDpiForMonitor = nullptr;
    LoadIconWithScaleDownFn loadIconWithScaleDown = nullptr;
};

template <typename Function>
void Find(HMODULE module, const char* name, Function& function) {
    function = module != nullptr ? reinterpret_cast<Function>(::GetProcAddress(module, name)) : nullptr;
}

DpiFunctions LoadDpiFunctions() {
    DpiFunctions f;
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    Find(user32, "GetDpiForWindow", f.getDpiForWindow);
    Find(user32, "GetDpiForSystem", f.getDpiForSystem);
    Find(user32, "GetSystemMetricsForDpi", f.getSystemMetricsForDpi);
    Find(user32, "SystemParametersInfoForDpi", f.systemParametersInfoForDpi);
    Find(user32, "AdjustWindowRectExForDpi", f.adjustWindowRectExForDpi);
    Find(user32, "SetDialogDpiChangeBehavior", f.setDialogDpiChangeBehavior);
    Find(user32, "GetThreadDpiAwarenessContext", f.getThreadDpiAwarenessContext);
    Find(user32, "GetAwarenessFromDpiAwarenessContext", f.getAwarenessFromDpiAwarenessContext);
    // Only from the system folder; Windows 7 has no shcore.dll (nor, without an
    // update, the flag), and the look-up then simply finds nothing. Loaded for the
    // life of the process.
    Find(::LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32), "GetDpiForMonitor",
         f.getDpiForMonitor);
    // The program imports the common controls, so version 6 is already loaded.
    Find(::GetModuleHandleW(L"comctl32.dll"), "LoadIconWithScaleDown", f.loadIconWithScaleDown);
    return f;
}

const DpiFunctions& Functions() {
    static const DpiFunctions functions = LoadDpiFunctions();
    return functions;
}

constexpr int kPerMonitorAware = 2;   // DPI_AWARENESS_PER_MONITOR_AWARE
constexpr int kEffectiveDpi = 0;      // MDT_EFFECTIVE_DPI
constexpr int kDisableAllRescaling = 1;  // DDC_DISABLE_ALL

UINT KnownOrBase(UINT dpi) { return dpi != 0 ? dpi : kBaseDpi; }

bool ThreadIsPerMonitorAware() {
    const DpiFunctions& f = Functions();
    if (f.getThreadDpiAwarenessContext == nullptr || f.getAwarenessFromDpiAwarenessContext == nullptr) return false;
    return f.getAwarenessFromDpiAwarenessContext(f.getThreadDpiAwarenessContext()) == kPerMonitorAware;
}

void RescaleFont(LOGFONTW& font, UINT fromDpi, UINT toDpi) {
    font.lfHeight = RescaleForDpi(font.lfHeight, fromDpi, toDpi);
    font.lfWidth = RescaleForDpi(font.lfWidth, fromDpi, toDpi);
}

}  // namespace

int ScaleForDpi(int pixels, UINT dpi) { return RescaleForDpi(pixels, kBaseDpi, dpi); }

int RescaleForDpi(int pixels, UINT fromDpi, UINT toDpi) {
    fromDpi = KnownOrBase(fromDpi);
    toDpi = KnownOrBase(toDpi);
    if (fromDpi == toDpi) return pixels;
    return ::MulDiv(pixels, static_cast<int>(toDpi), static_cast<int>(fromDpi));
}

UINT SystemDpi() {
    const DpiFunctions& f = Functions();
    if (f.getDpiForSystem != nullptr) return KnownOrBase(f.getDpiForSystem());
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

UINT DpiForWindow(HWND window) {
    const DpiFunctions& f = Functions();
    if (window != nullptr && f.getDpiForWindow != nullptr) {
        const UINT dpi = f.getDpiForWindow(window);
        if (dpi != 0) return dpi;
    }
    return SystemDpi();
}

UINT DpiForMonitor(HMONITOR monitor) {
    const DpiFunctions& f = Functions();
    if (monitor != nullptr && f.getDpiForMonitor != nullptr && ThreadIsPerMonitorAware()) {
        UINT dpiX = 0;
        UINT dpiY = 0;
        if (SUCCEEDED(f.getDpiForMonitor(monitor, kEffectiveDpi, &dpiX, &dpiY)) && dpiY != 0) return dpiY;
    }
    return SystemDpi();
}

int SystemMetricForDpi(int index, UINT dpi) {
    const DpiFunctions& f = Functions();
    if (f.getSystemMetricsForDpi != nullptr) return f.getSystemMetricsForDpi(index, KnownOrBase(dpi));
    return RescaleForDpi(::GetSystemMetrics(index), SystemDpi(), dpi);
}

bool NonClientFontsForDpi(UINT dpi, NONCLIENTMETRICSW& metrics) {
    dpi = KnownOrBase(dpi);
    const DpiFunctions& f = Functions();
    metrics = NONCLIENTMETRICSW{};
    if (f.systemParametersInfoForDpi != nullptr) {
        metrics.cbSize = sizeof(metrics);
        if (f.systemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0, dpi)) return true;
        metrics = NONCLIENTMETRICSW{};
    }
    // The size without the padded-border field, which every version accepts.
    metrics.cbSize = static_cast<UINT>(offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth));
    if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) return false;
    const UINT systemDpi = SystemDpi();
    for (LOGFONTW* font : {&metrics.lfCaptionFont, &metrics.lfSmCaptionFont, &metrics.lfMenuFont,
                           &metrics.lfStatusFont, &metrics.lfMessageFont}) {
        RescaleFont(*font, systemDpi, dpi);
    }
    return true;
}

bool AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi) {
    const DpiFunctions& f = Functions();
    if (f.adjustWindowRectExForDpi != nullptr) {
        return f.adjustWindowRectExForDpi(&rect, style, FALSE, exStyle, KnownOrBase(dpi)) != FALSE;
    }
    return ::AdjustWindowRectEx(&rect, style, FALSE, exStyle) != FALSE;
}

HICON LoadIconOfSize(HINSTANCE module, const wchar_t* name, int size) {
    const DpiFunctions& f = Functions();
    if (f.loadIconWithScaleDown != nullptr) {
        HICON icon = nullptr;
        if (SUCCEEDED(f.loadIconWithScaleDown(module, name, size, size, &icon))) return icon;
        return nullptr;
    }
    if (module == nullptr) {
        // The system's icons come shared, at the system size: an owned copy of the size.
        HICON shared = ::LoadIconW(nullptr, name);
        return shared != nullptr ? static_cast<HICON>(::CopyImage(shared, IMAGE_ICON, size, size, 0)) : nullptr;
    }
    return static_cast<HICON>(::LoadImageW(module, name, IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

void KeepDialogManagerFromRescaling(HWND dialog) {
    const DpiFunctions& f = Functions();
    if (f.setDialogDpiChangeBehavior != nullptr) {
        f.setDialogDpiChangeBehavior(dialog, kDisableAllRescaling, kDisableAllRescaling);
    }
}
