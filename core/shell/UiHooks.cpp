#include "shell/UiHooks.h"

namespace zarvik {
namespace {
IUiHooks& Headless() {
  static IUiHooks hooks;
  return hooks;
}
IUiHooks* g_hooks = nullptr;
}  // namespace

void SetUiHooks(IUiHooks* hooks) { g_hooks = hooks; }

IUiHooks& UiHooks() { return g_hooks != nullptr ? *g_hooks : Headless(); }

void ShowWait(std::chrono::milliseconds timeout, const std::string& text) { UiHooks().ShowWait(timeout, text); }

void HideWait() { UiHooks().HideWait(); }

}  // namespace zarvik
