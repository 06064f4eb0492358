#include "windowhelpers.h"

#include "pump.h"

namespace {

struct Search {
    const char *className;
    const char *title;
    DWORD processId;
    HWND found;
};

bool IsHoravex(DWORD processId)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == NULL)
        return false;
    char path[MAX_PATH];
    DWORD size = sizeof path;
    bool found = QueryFullProcessImageNameA(process, 0, path, &size) != 0;
    CloseHandle(process);
    const char name[] = "\\horavex.exe";
    size_t length = sizeof name - 1;
    return found && size >= length && lstrcmpiA(path + size - length, name) == 0;
}

BOOL CALLBACK MatchWindow(HWND window, LPARAM lParam)
{
    Search *search = reinterpret_cast<Search *>(lParam);
    char name[256];
    if (!GetClassNameA(window, name, sizeof name) || lstrcmpA(name, search->className) != 0)
        return TRUE;
    if (search->processId != 0) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (search->processId == kAnyHoravex ? !IsHoravex(owner) : owner != search->processId)
            return TRUE;
    }
    if (search->title != NULL && WindowText(window) != search->title)
        return TRUE;
    search->found = window;
    return FALSE;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM lParam)
{
    std::string *text = reinterpret_cast<std::string *>(lParam);
    char name[64];
    if (GetClassNameA(child, name, sizeof name) && lstrcmpiA(name, "Static") == 0) {
        std::string part = WindowText(child);
        if (!part.empty())
            *text += part;
    }
    return TRUE;
}

} // namespace

HWND FindTopWindow(const char *className, const char *title, DWORD processId)
{
    Search search = {className, title, processId, NULL};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForWindow(const char *className, const char *title, DWORD processId, DWORD timeoutMs)
{
    HWND found = NULL;
    WaitUntil([&] { return (found = FindTopWindow(className, title, processId)) != NULL; },
              timeoutMs);
    return found;
}

std::string WindowText(HWND window)
{
    char text[2048];
    int length = GetWindowTextA(window, text, sizeof text);
    return std::string(text, length > 0 ? (size_t)length : 0);
}

std::string MessageBoxText(HWND box)
{
    std::string text;
    EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(&text));
    return text;
}

void AnswerBox(HWND box, int button)
{
    WaitUntil([&] { return IsWindowVisible(box) || !IsWindow(box); }, 5000);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

BoxAnswerer::BoxAnswerer(const char *title, int button, DWORD processId, DWORD holdMs)
    : title_(title), button_(button), processId_(processId), holdMs_(holdMs),
      watcher_(&BoxAnswerer::Watch, this)
{
}

BoxAnswerer::~BoxAnswerer()
{
    stop_ = true;
    watcher_.join();
}

void BoxAnswerer::Watch()
{
    while (!stop_) {
        HWND box = FindTopWindow("#32770", title_.c_str(), processId_);
        if (box == NULL || !IsWindowVisible(box)) {
            Sleep(10);
            continue;
        }
        if (holdMs_ != 0)
            Sleep(holdMs_);
        std::string text = MessageBoxText(box);
        HWND owner = GetWindow(box, GW_OWNER);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            texts_.push_back(text);
            owner_ = owner;
        }
        AnswerBox(box, button_);
        WaitUntil([&] { return !IsWindow(box) || stop_; }, 5000);
    }
}

int BoxAnswerer::Count() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return (int)texts_.size();
}

std::vector<std::string> BoxAnswerer::Texts() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
}

std::string BoxAnswerer::Text() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_.empty() ? std::string() : texts_.back();
}

HWND BoxAnswerer::Owner() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return owner_;
}

bool BoxAnswerer::WaitForCount(int count, DWORD timeoutMs) const
{
    return PumpUntil([&] { return Count() >= count; }, timeoutMs);
}
