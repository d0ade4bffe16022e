// The password of a network port with password authentication, asked when
// the window connects: a modal dialog ("NetPasswordDialog"), the text never
// kept after the connection is made, never written anywhere.
#pragma once

#include <string>

class QWidget;

namespace zarvik::ui {

// Installs the window's password source (port/NetSecurity.h); nullptr
// removes it. Asked only from the window's own thread: another thread
// (a worker) gets no password and its connection is refused.
void InstallNetPasswordDialog(QWidget* parent);

// The dialog itself: false when cancelled or left empty.
bool AskNetPasswordDialog(QWidget* parent, const std::string& portKey, const std::string& where,
                          const std::string& user, std::string& password);

}  // namespace zarvik::ui
