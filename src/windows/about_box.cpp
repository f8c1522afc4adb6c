#include "windows/about_box.h"

namespace vesquin::windows {

void AboutBox::Show() {
  if (box_ != nullptr) return;
  box_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kAboutDialog), owner_, Proc,
                            reinterpret_cast<LPARAM>(this));
  if (box_ == nullptr) return;
  EnableWindow(owner_, FALSE);
  ShowWindow(box_, SW_SHOW);
}

bool AboutBox::Take(MSG& message) { return box_ != nullptr && IsDialogMessageW(box_, &message) != FALSE; }

void AboutBox::End() {
  if (box_ == nullptr) return;
  // The owner first, so that the system gives it the keyboard when the box goes.
  EnableWindow(owner_, TRUE);
  DestroyWindow(box_);
  box_ = nullptr;
  SetForegroundWindow(owner_);
}

INT_PTR CALLBACK AboutBox::Proc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(box, DWLP_USER, lParam);
    return TRUE;
  }
  auto* self = reinterpret_cast<AboutBox*>(GetWindowLongPtrW(box, DWLP_USER));
  // OK, Enter, Escape and the close command all end it.
  if (self != nullptr && message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    self->End();
    return TRUE;
  }
  return FALSE;
}

}  // namespace vesquin::windows
