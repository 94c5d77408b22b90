#include "ui/error_dialog_win.h"

#include "launcher/launch_state.h"
#include "resources/resource_ids.h"
#include "ui/message_format.h"

namespace korvane {

HWND volatile errorDialogWindow = nullptr;

namespace {

// The dialog has one slot for its texts: a second details report on another thread waits
// until the first dialog is closed.
SRWLOCK dialogLock = SRWLOCK_INIT;
const char* dialogMessage = "";
const char* dialogDetails = "";

INT_PTR CALLBACK errorDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        SendDlgItemMessageA(dialog, IDC_ERROR_ICON, STM_SETICON,
                            reinterpret_cast<WPARAM>(LoadIconA(nullptr, MAKEINTRESOURCEA(32513) /* IDI_HAND */)), 0);
        // The message is painted, not shown by the control; the hidden control still carries it
        // as its text, so that tools reading the dialog find it.
        SetDlgItemTextA(dialog, IDC_ERROR_MESSAGE, dialogMessage);
        ShowWindow(GetDlgItem(dialog, IDC_ERROR_MESSAGE), SW_HIDE);
        SetDlgItemTextA(dialog, IDC_ERROR_DETAILS, dialogDetails);
        centerWindow(dialog);
        SetForegroundWindow(dialog);
        errorDialogWindow = dialog;
        return TRUE;
    case WM_PAINT: {
        // The hidden static marks the message area; the message is painted there on one line,
        // its middle replaced by an ellipsis when it is too wide.
        RECT area;
        GetWindowRect(GetDlgItem(dialog, IDC_ERROR_MESSAGE), &area);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&area), 2);
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(dialog, &paint);
        HGDIOBJ previous = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        DrawTextA(dc, dialogMessage, -1, &area, DT_SINGLELINE | DT_VCENTER | DT_PATH_ELLIPSIS);
        SelectObject(dc, previous);
        EndPaint(dialog, &paint);
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
            errorDialogWindow = nullptr;
            return TRUE;
        }
        return FALSE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            EndDialog(dialog, 0);
            errorDialogWindow = nullptr;
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

void showErrorDialog(const char* message, const char* details) {
    AcquireSRWLockExclusive(&dialogLock);
    dialogMessage = message;
    dialogDetails = details;
    DialogBoxParamA(launchState.instanceHandle, MAKEINTRESOURCEA(IDD_ERROR_DIALOG), nullptr, errorDialogProc, 0);
    errorDialogWindow = nullptr;
    dialogMessage = "";
    dialogDetails = "";
    ReleaseSRWLockExclusive(&dialogLock);
}

void centerWindow(HWND window) {
    RECT bounds;
    GetWindowRect(window, &bounds);
    const int width = bounds.right - bounds.left;
    const int height = bounds.bottom - bounds.top;
    const WindowPosition p = centeredPosition(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), width, height);
    MoveWindow(window, p.x, p.y, width, height, TRUE);
}

} // namespace korvane
