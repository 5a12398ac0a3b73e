// The modal password dialog (resource IDD_PASSWORD of the plug-in).
#include <windows.h>

#include "platform/Platform.h"
#include "resources/PasswordDialog.h"

namespace {

struct PasswordBuffer {
    char* text;
    int32_t capacity;  // bytes, terminator included
};

INT_PTR CALLBACK PasswordDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
        return 1;  // the focus goes to the first tab stop, the edit box
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        auto* buffer = reinterpret_cast<PasswordBuffer*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        GetDlgItemTextA(window, IDC_PASSWORD, buffer->text, buffer->capacity);
        EndDialog(window, IDOK);
    } else if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        EndDialog(window, IDCANCEL);
    }
    return 0;
}

}  // namespace

namespace platform {

bool AskPassword(void* instance, char* buffer, int32_t capacity) {
    PasswordBuffer target{buffer, capacity};
    // No owner window: none of the file manager's windows is disabled meanwhile.
    return DialogBoxParamA(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEA(IDD_PASSWORD), nullptr,
                           PasswordDialogProc, reinterpret_cast<LPARAM>(&target)) == IDOK;
}

}  // namespace platform
