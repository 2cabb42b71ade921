#include "modal_script.h"

#include <gtest/gtest.h>

#include <utility>

#include "ui/win32/dialog.h"

namespace kelvane::testing {
namespace {

thread_local ModalScript* t_script = nullptr;

constexpr UINT kTickMs = 10;
// Not a timing assertion: only a bound so that a window that never comes up
// fails the test instead of hanging it.
constexpr int kGiveUpTicks = 3000;

struct Search {
    const std::string* caption;
    HWND found;
};

BOOL CALLBACK MatchCaption(HWND hwnd, LPARAM lParam) {
    auto* search = reinterpret_cast<Search*>(lParam);
    if (IsWindowVisible(hwnd) && IsWindowEnabled(hwnd) && GetWindowTextString(hwnd) == *search->caption) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// EndDialog re-enables the owner before the box's loop has returned, and a
// tick in that loop would act before the owner's code after the box has run
// (putting the focus back, say): an owned box that is hidden but not yet
// destroyed means the owner is not ready.
BOOL CALLBACK FindClosingBox(HWND hwnd, LPARAM lParam) {
    auto* owner = reinterpret_cast<HWND*>(lParam);
    if (!IsWindowVisible(hwnd) && GetWindow(hwnd, GW_OWNER) == *owner) {
        *owner = nullptr;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK EndModal(HWND hwnd, LPARAM) {
    if (IsWindowVisible(hwnd)) EndDialog(hwnd, IDABORT);
    return TRUE;
}

}  // namespace

HWND FindActiveWindow(const std::string& caption) {
    Search search{&caption, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), MatchCaption, reinterpret_cast<LPARAM>(&search));
    if (search.found) EnumThreadWindows(GetCurrentThreadId(), FindClosingBox, reinterpret_cast<LPARAM>(&search.found));
    return search.found;
}

std::string MessageBoxText(HWND box) {
    // The message text is the static control 0xFFFF of the box.
    return GetWindowTextString(GetDlgItem(box, 0xFFFF));
}

ModalScript::ModalScript() : m_outer(t_script) {
    t_script = this;
    m_timer = SetTimer(nullptr, 0, kTickMs, Tick);
}

ModalScript::~ModalScript() {
    KillTimer(nullptr, m_timer);
    t_script = m_outer;
    EXPECT_TRUE(m_steps.empty()) << "step never ran: " << (m_steps.empty() ? "" : m_steps.front().what);
}

ModalScript& ModalScript::On(const std::string& caption, Action action) {
    return When(
        "window \"" + caption + "\"", [caption] { return FindActiveWindow(caption); }, std::move(action));
}

ModalScript& ModalScript::OnSettled(const std::string& caption, Action action) {
    return When(
        "window \"" + caption + "\" active, with the focus",
        [caption]() -> HWND {
            const HWND w = FindActiveWindow(caption);
            return w && GetActiveWindow() == w && IsChild(w, GetFocus()) ? w : nullptr;
        },
        std::move(action));
}

ModalScript& ModalScript::When(std::string what, Finder find, Action action) {
    m_steps.push_back({std::move(what), std::move(find), std::move(action)});
    return *this;
}

void CALLBACK ModalScript::Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (t_script) t_script->RunDue();
}

void ModalScript::RunDue() {
    if (m_steps.empty()) {
        // Ticks come only from a modal loop: one still running long after the
        // last step is a window the test expected to close.
        if (++m_idleTicks > kGiveUpTicks) GiveUp();
        return;
    }
    const HWND hwnd = m_steps.front().find();
    if (!hwnd) {
        if (++m_idleTicks > kGiveUpTicks) GiveUp();
        return;
    }
    m_idleTicks = 0;
    // Taken off first: an action may open a modal window whose loop ticks
    // here again and must see the next step.
    Step step = std::move(m_steps.front());
    m_steps.pop_front();
    step.action(hwnd);
}

void ModalScript::GiveUp() {
    ADD_FAILURE() << "gave up waiting for "
                  << (m_steps.empty() ? std::string("the windows to close") : m_steps.front().what);
    m_idleTicks = 0;
    m_failed = true;
    m_steps.clear();
    EnumThreadWindows(GetCurrentThreadId(), EndModal, 0);
}

}  // namespace kelvane::testing
