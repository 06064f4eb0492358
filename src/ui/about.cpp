#include "ui/about.h"

#include <shellapi.h>

#include "base/globals.h"
#include "base/textfmt.h"
#include "resource.h"

/* Valid while the box is open: one box at a time, since a second would
   save the class cursor that the first removed. */
static HWND aboutBox;
static HCURSOR linkCursor;
static ULONG_PTR savedButtonCursor;

void ShowAboutBox(HWND owner)
{
    if (aboutBox != NULL) {
        SetForegroundWindow(aboutBox);
        return;
    }
    DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_ABOUT), owner, AboutDlgProc, 0);
}

static void ShowBuildStamp(HWND dialog)
{
    FormatText(textBuffer, sizeof textBuffer, "Compile: %s %s", __DATE__, __TIME__);
    SetDlgItemTextA(dialog, IDC_ABOUT_STAMP, textBuffer);
}

static BOOL OnInitDialog(HWND dialog)
{
    aboutBox = dialog;
    ShowBuildStamp(dialog);
    linkCursor = LoadCursorA(appInstance, MAKEINTRESOURCEA(IDCUR_LINK));
    /* Without a class cursor, the box alone decides the cursor over its
       buttons (at WM_SETCURSOR). */
    savedButtonCursor = SetClassLongPtrA(GetDlgItem(dialog, IDC_ABOUT_WEB), GCLP_HCURSOR, 0);
    return TRUE;
}

static BOOL IsLink(HWND dialog, HWND window)
{
    return window != NULL && (window == GetDlgItem(dialog, IDC_ABOUT_MAIL)
                              || window == GetDlgItem(dialog, IDC_ABOUT_WEB));
}

static void OnSetCursor(HWND dialog, HWND under)
{
    SetCursor(IsLink(dialog, under) ? linkCursor : LoadCursorA(NULL, (LPCSTR)IDC_ARROW));
}

void DrawLink(HWND dialog, const DRAWITEMSTRUCT *item)
{
    if (item->CtlType != ODT_BUTTON)
        return;
    HFONT font = (HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0);
    HGDIOBJ kept = font != NULL ? SelectObject(item->hDC, font) : NULL;
    bool pressed = (item->itemAction & ODA_SELECT) && (item->itemState & ODS_SELECTED);
    COLORREF keptColour = SetTextColor(item->hDC, pressed ? PRESSED_LINK_COLOUR : LINK_COLOUR);
    char caption[TEXT_BUFFER_SIZE];
    int length = GetWindowTextA(item->hwndItem, caption, sizeof caption);
    RECT area = item->rcItem;
    DrawTextA(item->hDC, caption, length, &area,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SetTextColor(item->hDC, keptColour);
    if (kept != NULL)
        SelectObject(item->hDC, kept);
}

/* The caption is the address that the shell opens. */
static void OpenLink(HWND dialog, HWND link)
{
    GetWindowTextA(link, textBuffer, TEXT_BUFFER_SIZE);
    ShellExecuteA(dialog, "open", textBuffer, NULL, NULL, SW_SHOWNORMAL);
}

static void OnCommand(HWND dialog, WPARAM wParam, LPARAM lParam)
{
    if (HIWORD(wParam) != BN_CLICKED)
        return;
    switch (LOWORD(wParam)) {
    case IDC_ABOUT_MAIL:
    case IDC_ABOUT_WEB:
        OpenLink(dialog, (HWND)lParam);
        break;
    default:
        EndDialog(dialog, 0);
        break;
    }
}

static void OnDestroy(HWND dialog)
{
    if (linkCursor != NULL) {
        DestroyCursor(linkCursor);
        linkCursor = NULL;
    }
    SetClassLongPtrA(GetDlgItem(dialog, IDC_ABOUT_WEB), GCLP_HCURSOR, (LONG_PTR)savedButtonCursor);
    aboutBox = NULL;
}

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog);
    case WM_SETCURSOR:
        OnSetCursor(dialog, (HWND)wParam);
        return TRUE;
    case WM_DRAWITEM:
        DrawLink(dialog, (const DRAWITEMSTRUCT *)lParam);
        return TRUE;
    case WM_COMMAND:
        OnCommand(dialog, wParam, lParam);
        return TRUE;
    case WM_NOTIFY:
        return TRUE;
    case WM_DESTROY:
        OnDestroy(dialog);
        return TRUE;
    }
    return FALSE;
}
