// The core's UI hooks on Qt: event processing, message boxes, questions and
// the wait window.
#pragma once

#include <functional>

#include "shell/UiHooks.h"

namespace zarvik::ui {

class TWaitForm;

class QtUiHooks : public IUiHooks {
 public:
  void ProcessEvents() override;
  bool IsTerminating() override;
  void ShowMessageBox(BoxKind kind, const std::string& caption, const std::string& text) override;
  QueryButton AskQuestion(QueryKind kind, const std::string& text, QueryButton def) override;
  void ShowWait(std::chrono::milliseconds timeout, const std::string& text) override;
  void HideWait() override;

  void SetWaitForm(TWaitForm* form) { waitForm_ = form; }
  // When set, message boxes and questions go here instead of on the screen
  // (tests drive the window without a person to press buttons).
  std::function<void(BoxKind, const std::string&)> boxHandler;
  std::function<QueryButton(QueryKind, const std::string&, QueryButton)> questionHandler;
  // Set while the application is shutting down.
  bool terminating = false;

 private:
  TWaitForm* waitForm_ = nullptr;
  int depth_ = 0;
};

}  // namespace zarvik::ui
