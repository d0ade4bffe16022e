// The free-text tab: font, brightness, text box, printing.
#pragma once

#include <QWidget>

#include "PageHost.h"

namespace zarvik::ui {

class TTextTab : public QWidget {
  Q_OBJECT
 public:
  TTextTab(TPageHost& host, QWidget* parent = nullptr);

  static constexpr const char* kCaption = "Текст";

 private:
  TPageHost& host_;
};

}  // namespace zarvik::ui
