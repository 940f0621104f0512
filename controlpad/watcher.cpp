#include "controlpad/watcher.h"

namespace {

DWORD WINAPI WatchThread(void* param) {
    PanelWatcher* w = static_cast<PanelWatcher*>(param);
    DWORD hit = WaitForMultipleObjects(w->count, w->waitOn, FALSE, INFINITE);
    if (hit != WAIT_OBJECT_0) PostMessageW(w->window, WM_CLOSE, 0, 0);
    return 0;
}

}  // namespace

void StartWatcher(PanelWatcher* w, HWND window, std::initializer_list<HANDLE> closeOn) {
    bool any = false;
    for (HANDLE h : closeOn) any = any || h;
    if (!any || closeOn.size() >= sizeof w->waitOn / sizeof w->waitOn[0]) return;
    w->window = window;
    w->waitOn[0] = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!w->waitOn[0]) return;
    w->count = 1;
    for (HANDLE h : closeOn)
        if (h) w->waitOn[w->count++] = h;
    w->thread = CreateThread(nullptr, 0, WatchThread, w, 0, nullptr);
}

void StopWatcher(PanelWatcher* w) {
    if (w->thread) {
        SetEvent(w->waitOn[0]);
        WaitForSingleObject(w->thread, INFINITE);
        CloseHandle(w->thread);
    }
    if (w->waitOn[0]) CloseHandle(w->waitOn[0]);
    *w = PanelWatcher{};
}
