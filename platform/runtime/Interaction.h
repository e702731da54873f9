#pragma once

#include <cstdint>
#include <functional>
#include <string>

// What the program asks of the user-interface runtime: message boxes, the
// screen-wide mouse pointer, one pass over pending events, waiting on work
// that runs elsewhere, and ending the program. The engine and suite layers
// call these; the Qt adapters install the real behaviour and tests install
// scripted ones, so nothing below the window layer needs Qt Widgets.
namespace zr::rt {

// Message box styles and answers, with the numbers the suite's callers use.
namespace mb {
inline constexpr int OkOnly = 0;
inline constexpr int OkCancel = 1;
inline constexpr int YesNo = 4;
inline constexpr int ButtonMask = 0x0F;
inline constexpr int Critical = 16;
inline constexpr int Exclamation = 48;
inline constexpr int Information = 64;
inline constexpr int IconMask = 0x70;
inline constexpr int DefaultButton2 = 256;

inline constexpr int AnswerOk = 1;
inline constexpr int AnswerCancel = 2;
inline constexpr int AnswerYes = 6;
inline constexpr int AnswerNo = 7;
}  // namespace mb

// Mouse pointer codes as the suite's screen object knows them.
namespace pointer {
inline constexpr int Default = 0;
inline constexpr int Hourglass = 11;
}  // namespace pointer

using MessageBoxFn = std::function<int(const std::string& text, int style, const std::string& title)>;
using PrepareMessageBoxFn = std::function<void(const std::string& text, int style, const std::string& title)>;
using EndProgramFn = std::function<void(int status)>;
using MousePointerFn = std::function<void(int code)>;
using DoEventsFn = std::function<void()>;
// Blocks until `done` answers true, keeping whatever must stay alive (paint,
// timers) alive meanwhile. `done` is safe to call from the waiting thread.
using WaitFn = std::function<void(const std::function<bool()>& done)>;
// Tells a waiting WaitUntil to look at its `done` now; any thread may call it.
using WakeFn = std::function<void()>;

struct InteractionHooks {
  MessageBoxFn messageBox;
  EndProgramFn endProgram;
  MousePointerFn setMousePointer;
  DoEventsFn doEvents;
  WaitFn waitUntil;
  WakeFn wake;
  PrepareMessageBoxFn prepareMessageBox;
};

// Installs the hooks and returns the ones that were in place. An empty
// function keeps the built-in fallback for that hook.
InteractionHooks InstallInteraction(InteractionHooks hooks);

// Shows a modal message box and returns the answer. Without an installed
// message box this is a run-time error rather than a silent answer.
int MsgBox(const std::string& text, int style, const std::string& title);

// Says which message box is likely to come next, so that it can be made
// while the program waits anyway; a hint only: showing it still takes MsgBox.
void PrepareMsgBox(const std::string& text, int style, const std::string& title);

// Ends the program at once with the given exit status: no further handler
// runs.
void EndProgram(int status = 0);

void SetMousePointer(int code);
int MousePointer();

// Lets pending events through once.
void DoEvents();

// Blocks the calling thread until `done` is true; see WaitFn.
void WaitUntil(const std::function<bool()>& done);

// Called by the work a WaitUntil waits on once `done` has become true, so
// the wait ends at once rather than at its next look.
void WakeWaiting();

}  // namespace zr::rt
