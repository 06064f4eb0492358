#include "dialog.h"

#include "pump.h"
#include "windowhelpers.h"

namespace {

struct DialogSearch {
    DWORD processId;
    int controlId;
    HWND found;
    int count;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM lParam)
{
    DialogSearch *search = reinterpret_cast<DialogSearch *>(lParam);
    char name[16];
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !GetClassNameA(window, name, sizeof name)
        || lstrcmpA(name, "#32770") != 0 || GetDlgItem(window, search->controlId) == NULL
        || !IsWindowVisible(window))
        return TRUE;
    search->found = window;
    search->count++;
    return search->count < 0;
}

BOOL CALLBACK CountDialog(HWND window, LPARAM lParam)
{
    MatchDialog(window, lParam);
    return TRUE;
}

} // namespace

HWND WaitForDialogWith(DWORD processId, int controlId, DWORD timeoutMs)
{
    DialogSearch search = {processId, controlId, NULL, 0};
    WaitUntil([&] {
        EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
        return search.found != NULL;
    }, timeoutMs);
    return search.found;
}

int CountDialogsWith(DWORD processId, int controlId)
{
    DialogSearch search = {processId, controlId, NULL, 0};
    EnumWindows(CountDialog, reinterpret_cast<LPARAM>(&search));
    return search.count;
}

std::string ControlText(HWND dialog, int id)
{
    char text[1024];
    LRESULT length = SendMessageA(GetDlgItem(dialog, id), WM_GETTEXT, sizeof text,
                                  reinterpret_cast<LPARAM>(text));
    return std::string(text, length > 0 ? (size_t)length : 0);
}

void SetControlText(HWND dialog, int id, const std::string &text)
{
    SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Click(HWND dialog, int id)
{
    /* BM_CLICK goes through the mouse capture, which a dialog that did not
       become the active window under Wine loses at once: the click is
       given as the button would give it.  Sent, so that what the test
       does next follows it; one that opens a box runs on while it waits. */
    HWND button = GetDlgItem(dialog, id);
    LONG style = GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK;
    if (style == BS_AUTOCHECKBOX)
        SendMessageA(button, BM_SETCHECK, IsChecked(dialog, id) ? BST_UNCHECKED : BST_CHECKED, 0);
    SendMessageTimeoutA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button,
                        SMTO_NORMAL, 1000, NULL);
}

void ClickPosted(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

bool IsChecked(HWND dialog, int id)
{
    return SendMessageA(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool IsEnabled(HWND dialog, int id)
{
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

bool WaitForControlText(HWND dialog, int id, const std::string &text, DWORD timeoutMs)
{
    return WaitUntil([&] { return ControlText(dialog, id) == text; }, timeoutMs);
}

std::vector<std::string> ComboEntries(HWND dialog, int id)
{
    HWND box = GetDlgItem(dialog, id);
    std::vector<std::string> entries;
    LRESULT count = SendMessageW(box, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; i++) {
        LRESULT length = SendMessageW(box, CB_GETLBTEXTLEN, (WPARAM)i, 0);
        std::wstring wide(length > 0 ? (size_t)length + 1 : 1, L'\0');
        SendMessageW(box, CB_GETLBTEXT, (WPARAM)i, reinterpret_cast<LPARAM>(&wide[0]));
        char text[1024];
        int size = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, text, sizeof text, NULL,
                                       NULL);
        entries.push_back(size > 0 ? text : "");
    }
    return entries;
}

/* WM_SETTEXT would not be reported as an edit: replace the text instead. */
static void ReplaceAllText(HWND edit, const std::string &text)
{
    SendMessageA(edit, EM_SETSEL, 0, -1);
    SendMessageA(edit, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
}

void TypeIntoCombo(HWND dialog, int id, const std::string &text)
{
    ReplaceAllText(FindWindowExA(GetDlgItem(dialog, id), NULL, "Edit", NULL), text);
}

void TypeIntoEdit(HWND dialog, int id, const std::string &text)
{
    ReplaceAllText(GetDlgItem(dialog, id), text);
}

void PressEscape(HWND dialog)
{
    PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
}
