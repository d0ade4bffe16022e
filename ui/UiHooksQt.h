// The core's UI hooks on Qt: event processing, message boxes and questions.
#pragma once

#include "shell/UiHooks.h"

namespace zarvik::ui {

class QtUiHooks : public IUiHooks {
 public:
  void ProcessEvents() override;
  bool IsTerminating() override;
  void ShowMessageBox(BoxKind kind, const std::string& caption, const std::string& text) override;
  QueryButton AskQuestion(QueryKind kind, const std::string& text, QueryButton def) override;
};

}  // namespace zarvik::ui
