// The taxes tab "Налоги": the register's tax rates, read only.
#pragma once

#include <QWidget>

#include "PageHost.h"

namespace zarvik::ui {

class TDBGridEh;

class TTaxesTab : public QWidget {
  Q_OBJECT
 public:
  TTaxesTab(TPageHost& host, QWidget* parent = nullptr);

  static constexpr const char* kCaption = "Налоги";

  // Reading the taxes (also run by the read-all action).
  void LoadTaxes();

  TDBGridEh& Grid() { return *grid_; }

  // The text the kind column shows for a stored kind code.
  static QString TaxKindText(const QString& code);

 private:
  void ReadTaxes();

  TPageHost& host_;
  TDBGridEh* grid_ = nullptr;
};

}  // namespace zarvik::ui
