// Display scale. The arithmetic that sizes pixel values for a DPI, free of any
// window, and the look-ups of a window's, a monitor's and the system's DPI with
// the metrics, fonts and icons that go with it.
//
// The per-monitor calls arrived with Windows 8.1 and 10; the program also runs on
// Windows 7. They are therefore found at run time (dpi.cpp is the one place that
// does that), and each look-up falls back to the system DPI where they are missing.
#pragma once

#include <windows.h>

// The DPI at which Windows draws at 100 % and every pixel size of the program is given.
constexpr UINT kBaseDpi = 96;

// Sent to a per-monitor window before its DPI changes, to ask the size it wants at
// the new DPI (Windows 10 1703 and later; not in every SDK's headers for Windows 7).
constexpr UINT kWmGetDpiScaledSize = 0x02E4;

// ---- arithmetic --------------------------------------------------------------

// `pixels` given at 96 DPI, sized for `dpi`; rounded to the nearest pixel. A DPI
// of 0 (unknown) counts as 96.
int ScaleForDpi(int pixels, UINT dpi);

// `pixels` measured at `fromDpi`, sized for `toDpi` (rounded to the nearest).
int RescaleForDpi(int pixels, UINT fromDpi, UINT toDpi);

// ---- look-ups ----------------------------------------------------------------

// The DPI of the primary monitor at the time the user signed in, which every
// window of a program that is not per-monitor aware uses.
UINT SystemDpi();

// The DPI the window is drawn at: its monitor's for a per-monitor aware window,
// else the system DPI.
UINT DpiForWindow(HWND window);

// The DPI a new window of this thread gets on `monitor`: the monitor's own when
// the thread is per-monitor aware, else the system DPI.
UINT DpiForMonitor(HMONITOR monitor);

// GetSystemMetrics for `dpi` (sizes such as SM_CXICON); where the system has no
// per-DPI metrics, the system DPI's value rescaled.
int SystemMetricForDpi(int index, UINT dpi);

// The fonts of SPI_GETNONCLIENTMETRICS (message, status, caption...) for `dpi`;
// where the system has no per-DPI metrics, the system DPI's fonts rescaled. Only
// the fonts are filled; false when the system gave nothing.
bool NonClientFontsForDpi(UINT dpi, NONCLIENTMETRICSW& metrics);

// The window rectangle for the client rectangle `rect` of a window with these
// styles at `dpi`.
bool AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi);

// An icon of `size` x `size` pixels from `module` (null: the system's icons such
// as IDI_HAND), scaled down from a larger image where the exact size is missing.
// The caller owns it (DestroyIcon); null when there is no such icon.
HICON LoadIconOfSize(HINSTANCE module, const wchar_t* name, int size);

// Keeps the dialog manager from resizing a dialog and its controls when its DPI
// changes, for a dialog that lays itself out for the new DPI.
void KeepDialogManagerFromRescaling(HWND dialog);
