#pragma once
// libScreenCapture.so: delivers Ctrl+Alt+S, Ctrl+Alt+P and Ctrl+Alt+I pressed anywhere on the X
// display to the recorder window as WM_RECORDER_HOTKEY (wParam = virtual-key code, lParam = the
// modifier state of the key event, see HotkeyKeys.h).

#ifdef __cplusplus
extern "C" {
#endif

// `window` is the QObject* that receives the messages; `programPath` names the running program in
// diagnostics. Returns 1 when every shortcut was grabbed, 0 otherwise (reasons on stderr); the
// shortcuts that could be grabbed are delivered either way, until Unhook().
int Hook(void* window, const char* programPath);
// Releases the grabs and ends the delivery thread; no message is posted after it returns.
int Unhook(void);

#ifdef __cplusplus
}
#endif
