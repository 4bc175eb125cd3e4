// The settings dialog as a Win32 modal dialog from the library's own resources, owned by the
// host's window. It only moves texts between the controls and TSettingsForm.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string>

#include "platform/Files.h"
#include "settings/SettingsDialogIds.h"
#include "settings/SettingsForm.h"

namespace {

struct TDialogRun {
    TSettingsForm* form;
    std::exception_ptr failure;  // raised inside the dialog procedure, re-raised after it closed
};

// Design positions in pixels at 96 dpi (scaled to the screen's); edits and the list have the
// standard height of 21.
struct TPlace {
    int id, left, top, width, height;
};
constexpr TPlace Layout[] = {
    {IDC_COMPORTL, 5, 10, 75, 13},  {IDC_BAUDSL, 5, 30, 51, 13},    {IDC_PASSWORDL, 5, 51, 74, 13},
    {IDC_COMPORTSE, 100, 5, 66, 21}, {IDC_BAUDSCB, 100, 25, 66, 21}, {IDOK, 175, 5, 86, 26},
    {IDCANCEL, 175, 40, 86, 26},     {IDC_PASSWORDME, 100, 45, 66, 21},
};
constexpr int ClientWidth = 266, ClientHeight = 71;
constexpr int DropDownItems = 8;

HMODULE OwnModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ShowSettingsForm), &module);
    return module;
}

// The up-down class comes from the common controls, loaded on first use so that a host that
// never opens the dialog does not load them.
void RegisterSpinClass() {
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    static const bool done = [] {
        // From the system folder only: never a comctl32.dll that lies beside the host.
        char folder[MAX_PATH];
        const UINT n = GetSystemDirectoryA(folder, MAX_PATH);
        HMODULE comctl = n > 0 && n < MAX_PATH ? LoadLibraryA((std::string(folder, n) + "\\comctl32.dll").c_str()) : nullptr;
        auto init = comctl ? reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControlsEx")))
                           : nullptr;
        INITCOMMONCONTROLSEX classes{sizeof classes, ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
        return init && init(&classes);
    }();
    if (!done) throw std::runtime_error("Cannot load the common controls (comctl32.dll)");
}

std::string ControlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    std::string text(static_cast<size_t>(GetWindowTextLengthA(control)) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

void SetControlText(HWND dialog, int id, const std::string& text) {
    if (ControlText(dialog, id) != text) SetDlgItemTextA(dialog, id, text.c_str());
}

bool IsLabel(int id) { return id == IDC_COMPORTL || id == IDC_BAUDSL || id == IDC_PASSWORDL; }

// Labels grow to their text where the font at hand is wider than the design font, up to the
// fields beside them.
int LabelWidth(HWND label, int designWidth, int room) {
    std::string text(static_cast<size_t>(GetWindowTextLengthA(label)) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(label, text.data(), static_cast<int>(text.size()))));
    HDC dc = GetDC(label);
    if (!dc) return designWidth;
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(label, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    return std::min(std::max<int>(designWidth, extent.cx), room);
}

// Screen pixels per design pixel: the font follows the system's dots per inch, so must the layout.
int ScreenDpi(HWND dialog) {
    HDC dc = GetDC(dialog);
    const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) ReleaseDC(dialog, dc);
    return dpi > 0 ? dpi : 96;
}

void PlaceControls(HWND dialog) {
    const int dpi = ScreenDpi(dialog);
    auto scaled = [dpi](int designPixels) { return MulDiv(designPixels, dpi, 96); };
    const int fieldLeft = 100;
    for (const TPlace& p : Layout) {
        int width = scaled(p.width), height = scaled(p.height);
        if (IsLabel(p.id))
            width = LabelWidth(GetDlgItem(dialog, p.id), width, scaled(fieldLeft - 2 - p.left));
        // A drop-down list's height is that of its open list; its field keeps the font's height.
        if (p.id == IDC_BAUDSCB) height += scaled(DropDownItems * 16 + 2);
        SetWindowPos(GetDlgItem(dialog, p.id), nullptr, scaled(p.left), scaled(p.top), width, height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // The arrows sit inside the spin field's width again.
    SendDlgItemMessageA(dialog, IDC_COMPORTUD, UDM_SETBUDDY, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_COMPORTSE)), 0);

    RECT frame{0, 0, scaled(ClientWidth), scaled(ClientHeight)};
    const DWORD style = static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_EXSTYLE));
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    SetWindowPos(dialog, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2,
                 width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void FillControls(HWND dialog, const TSettingsForm& form) {
    SendDlgItemMessageA(dialog, IDC_COMPORTUD, UDM_SETRANGE32, MinPort, MaxPort);
    SetControlText(dialog, IDC_COMPORTSE, form.COMPortText);
    for (int32_t baud : BaudRates)
        SendDlgItemMessageA(dialog, IDC_BAUDSCB, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::to_string(baud).c_str()));
    SendDlgItemMessageA(dialog, IDC_BAUDSCB, CB_SETCURSEL, static_cast<WPARAM>(form.BaudsIndex), 0);
    SendDlgItemMessageA(dialog, IDC_PASSWORDME, EM_LIMITTEXT, BitsFieldMaxDigits, 0);
    // A longer text from the settings file is shown whole; the operator can only shorten it.
    SetControlText(dialog, IDC_PASSWORDME, form.BitsText);
}

void CollectControls(HWND dialog, TSettingsForm& form) {
    form.COMPortText = ControlText(dialog, IDC_COMPORTSE);
    form.BaudsIndex = static_cast<int32_t>(SendDlgItemMessageA(dialog, IDC_BAUDSCB, CB_GETCURSEL, 0, 0));
    form.BitsText = ControlText(dialog, IDC_PASSWORDME);
}

// The masked field takes digits only, pasted text included (ES_NUMBER filters typing alone).
LRESULT CALLBACK MaskedEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    auto original = reinterpret_cast<WNDPROC>(GetPropA(edit, "KRA_EditProc"));
    if (message == WM_PASTE) {
        try {
            std::string text;
            if (OpenClipboard(edit)) {
                if (HANDLE data = GetClipboardData(CF_TEXT)) {
                    if (const char* chars = static_cast<const char*>(GlobalLock(data))) {
                        text = MaskDigits(chars);
                        GlobalUnlock(data);
                    }
                }
                CloseClipboard();
            }
            SendMessageA(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
        } catch (...) {
        }
        return 0;
    }
    if (message == WM_NCDESTROY) {
        RemovePropA(edit, "KRA_EditProc");
        SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    }
    return CallWindowProcA(original, edit, message, wParam, lParam);
}

void MaskField(HWND dialog, int id) {
    HWND edit = GetDlgItem(dialog, id);
    SetPropA(edit, "KRA_EditProc", reinterpret_cast<HANDLE>(GetWindowLongPtrA(edit, GWLP_WNDPROC)));
    SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MaskedEditProc));
}

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* run = reinterpret_cast<TDialogRun*>(GetWindowLongPtrA(dialog, DWLP_USER));
    try {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            run = reinterpret_cast<TDialogRun*>(lParam);
            PlaceControls(dialog);
            FillControls(dialog, *run->form);
            MaskField(dialog, IDC_PASSWORDME);
            return TRUE;  // the focus goes to the first field in tab order, COMPortSE
        }
        if (message != WM_COMMAND || !run) return FALSE;
        TSettingsForm& form = *run->form;
        const int id = LOWORD(wParam), code = HIWORD(wParam);
        if (id == IDC_COMPORTSE && code == EN_KILLFOCUS) {
            form.COMPortText = ControlText(dialog, IDC_COMPORTSE);
            form.COMPortSEExit();
            SetControlText(dialog, IDC_COMPORTSE, form.COMPortText);
        } else if (id == IDC_PASSWORDME && code == EN_KILLFOCUS) {
            form.BitsText = ControlText(dialog, IDC_PASSWORDME);
            form.PasswordMEExit();
            SetControlText(dialog, IDC_PASSWORDME, form.BitsText);
        } else if (id == IDOK && code == BN_CLICKED) {
            CollectControls(dialog, form);
            EndDialog(dialog, IDOK);
        } else if (id == IDCANCEL && code == BN_CLICKED) {
            EndDialog(dialog, IDCANCEL);
        } else {
            return FALSE;
        }
        return TRUE;
    } catch (...) {
        // Nothing may unwind through the system's window code: close as cancelled and re-raise.
        if (run && !run->failure) run->failure = std::current_exception();
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
}

}  // namespace

bool ShowSettingsForm(TSettingsForm& form) {
    RegisterSpinClass();
    HWND owner = static_cast<HWND>(ApplicationHandle());
    if (owner && !IsWindow(owner)) owner = nullptr;  // a closed host window must not block the dialog
    TDialogRun run{&form, nullptr};
    SetLastError(0);
    const INT_PTR result = DialogBoxParamA(OwnModule(), MAKEINTRESOURCEA(IDD_SETTINGSFORM), owner, &SettingsDialogProc,
                                           reinterpret_cast<LPARAM>(&run));
    if (run.failure) std::rethrow_exception(run.failure);
    if (result == -1 || result == 0)
        throw std::runtime_error("Cannot show the settings dialog. " + platform::SystemErrorText(GetLastError()));
    return result == IDOK;
}
