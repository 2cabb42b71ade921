#pragma once
// Drives modal windows from the inside. A thread timer fires in whatever modal
// loop is running (a dialog's, a message box's); each tick looks for the
// window the next step waits for and, once it is up, runs the step on it.

#include <windows.h>

#include <deque>
#include <functional>
#include <string>

namespace kelvane::testing {

class ModalScript {
public:
    using Action = std::function<void(HWND)>;
    using Finder = std::function<HWND()>;

    ModalScript();
    ~ModalScript();
    ModalScript(const ModalScript&) = delete;
    ModalScript& operator=(const ModalScript&) = delete;

    // Runs `action` once a window of this thread with `caption` is visible and
    // enabled (a window that has a modal child open is disabled).
    ModalScript& On(const std::string& caption, Action action);
    // The same, once that window is also the active one and holds the focus.
    // Wine hands activation back from X events after a box closes, and under
    // load they land after the owner's own focus change: a focus check made
    // before they have is made on a window still deactivated.
    ModalScript& OnSettled(const std::string& caption, Action action);
    // Runs `action` once `find` returns a window.
    ModalScript& When(std::string what, Finder find, Action action);

    // True when every step has run.
    bool Done() const { return m_steps.empty() && !m_failed; }

private:
    struct Step {
        std::string what;
        Finder find;
        Action action;
    };
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    void RunDue();
    void GiveUp();

    ModalScript* m_outer = nullptr;  // a script may be made while another runs
    std::deque<Step> m_steps;
    UINT_PTR m_timer = 0;
    int m_idleTicks = 0;
    bool m_failed = false;
};

// The front window of this thread with this caption, or null.
HWND FindActiveWindow(const std::string& caption);

// Text of a message box: its static text control.
std::string MessageBoxText(HWND box);

}  // namespace kelvane::testing
