// The side panel "PanelMenu": the five page selectors at the top, the
// register's identity (model, serial number, version, mode, date, time) and
// the connection controls (port, speed, network number, connect button and
// the register search).
#pragma once

#include <QColor>
#include <QFrame>
#include <array>

class QComboBox;
class QLabel;
class QToolButton;

namespace zarvik::ui {

class TSpeedButtonEx;

// The count of pages the side panel selects.
inline constexpr int kSelectorCount = 5;

// Colours of the identity labels.
inline const QColor kIdentityDisconnected(0xC0, 0xC0, 0xC0);  // silver
inline const QColor kIdentityConnected(0x00, 0x80, 0x00);     // green
inline const QColor kIdentityNoDescriptor(0xFF, 0x00, 0x00);  // red

// The speeds offered for the register and the scanner.
inline constexpr const char* kSpeedItems[] = {"9600", "19200", "38400", "57600", "115200"};
inline constexpr int kHighestNetworkNumber = 98;

class TSidePanel : public QFrame {
  Q_OBJECT
 public:
  explicit TSidePanel(QWidget* parent = nullptr);

  // Shows `page` (1..5) as selected: that selector is one pixel wider and
  // in the button-face colour, the others in the window colour.
  void MarkSelected(int page);
  QWidget* Selector(int page) const { return selectors_[static_cast<std::size_t>(page - 1)]; }
  QToolButton* ClickArea(int page) const { return shapes_[static_cast<std::size_t>(page - 1)]; }

  QLabel* lModel = nullptr;
  QLabel* lSN = nullptr;
  QLabel* lVer = nullptr;
  QLabel* lMode = nullptr;
  QLabel* lDate = nullptr;
  QLabel* lTime = nullptr;
  QComboBox* cbComPort = nullptr;
  QComboBox* cbSpeedPort = nullptr;
  QComboBox* cbNetNum = nullptr;
  TSpeedButtonEx* bConnect = nullptr;
  // "Найти ККМ": searches the ports and speeds for the register; pressed
  // again while it searches, it stops.
  TSpeedButtonEx* bFindKKM = nullptr;

  // All six identity labels in one colour.
  void SetIdentityColor(const QColor& color);
  static void SetLabelColor(QLabel* label, const QColor& color);
  static QColor LabelColor(const QLabel* label);

 signals:
  // A click area was pressed (the main window decides whether it may change).
  void pageRequested(int page);

 private:
  std::array<QWidget*, kSelectorCount> selectors_{};
  std::array<QToolButton*, kSelectorCount> shapes_{};
  bool marking_ = false;  // MarkSelected sets the checked states
};

}  // namespace zarvik::ui
