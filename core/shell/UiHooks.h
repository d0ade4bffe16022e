// The few points where the core needs the user interface: processing pending
// events from inside a running exchange, asking whether the application is
// terminating, message boxes and questions. The window program installs its
// implementation; without one the core runs headless (no boxes, questions
// take their default answer, events are not processed).
#pragma once

#include <chrono>
#include <string>

namespace zarvik {

enum class BoxKind { Information, Warning, Error };
enum class QueryButton { Ok, Cancel, Yes, No };
enum class QueryKind { OkCancel, YesNoCancel };

class IUiHooks {
 public:
  virtual ~IUiHooks() = default;
  virtual void ProcessEvents() {}
  virtual bool IsTerminating() { return false; }
  // A modal box with the caption "Information", "Warning" or "Error" and OK.
  virtual void ShowMessageBox(BoxKind kind, const std::string& caption, const std::string& text) {
    (void)kind;
    (void)caption;
    (void)text;
  }
  // A modal confirmation box (caption "Confirm"); returns the button pressed.
  virtual QueryButton AskQuestion(QueryKind kind, const std::string& text, QueryButton def) {
    (void)kind;
    (void)text;
    return def;
  }
  // The wait window: shown (not modal) with `text`, or the default text when
  // it is empty; it hides itself when `timeout` runs out. A new ShowWait
  // replaces the text and restarts the time-out.
  virtual void ShowWait(std::chrono::milliseconds timeout, const std::string& text) {
    (void)timeout;
    (void)text;
  }
  virtual void HideWait() {}
};

// Installs the hooks (nullptr restores the headless default). Not owned.
void SetUiHooks(IUiHooks* hooks);
IUiHooks& UiHooks();

// The wait window of the running program (nothing without a window).
void ShowWait(std::chrono::milliseconds timeout, const std::string& text = {});
void HideWait();

}  // namespace zarvik
