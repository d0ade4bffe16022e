// The main window "fmMain": the top bar with the main menu as a toolbar and
// the console, the side panel with the page selectors and the connection
// controls, and the four pages. It owns the register port, the scanner port,
// the register object, the protocol object, the data module and the wait
// window; pages reach the register only through the TPageHost it implements.
#pragma once

#include <QMainWindow>
#include <QRect>
#include <memory>
#include <string>
#include <vector>

#include "MainSignals.h"
#include "PageHost.h"
#include "model/U_kkms.h"
#include "port/Barcodescaner.h"
#include "port/Comport.h"
#include "port/PortTable.h"
#include "protocol/U_protocolkkm.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QTabWidget;
class QToolBar;

namespace zarvik {
class TBD;
class TIniFile;
class TProfileStore;
}  // namespace zarvik

namespace zarvik::ui {

class ConsoleWidget;
class QtUiHooks;
class TActionList;
class TConfigPage;
class TConfigSysPage;
class TGoodsPage;
class THelpWindow;
class TJournalPage;
class TLineMonitor;
class TShopPage;
class TSidePanel;
class TWaitForm;

// Texts of the window's own reports.
inline constexpr const char* kVersionSuffix = " v2.092 ";
inline constexpr const char* kHardwareConsoleLines[] = {"Программа находится в режиме mdHardWare",
                                                        "Консоль отключена и все сообщения выводятся",
                                                        "ТОЛЬКО в LOG ФАЙЛ"};

class TfmMain : public QMainWindow, public TPageHost {
  Q_OBJECT
 public:
  TfmMain(int argc, char** argv, QWidget* parent = nullptr);
  ~TfmMain() override;

  // Window caption, connect caption and the other language texts.
  void ApplyLanguage();

  // TPageHost.
  TKKM& Kkm() override { return kkm_; }
  TProtocolKKM& Protocol() override { return protocol_; }
  TComPort& RegisterPort() override { return registerPort_; }
  TBarCodeScaner& ScannerPort() override { return scannerPort_; }
  TBD& Bd() override { return *bd_; }
  TLoadedFlags& Flags() override { return flags_; }
  TTransferState& Transfer() override { return transfer_; }
  TWriteSafety& WriteSafety() override { return writeSafety_; }
  TKKMInfo* Info() override { return kkm_.info.get(); }
  QAction* Action(std::string_view name) override;
  void SetActionEnabled(std::string_view name, bool enabled) override;
  bool ConfigStop() const override { return configStop_; }
  void SelectPage(int page) override;
  int CurrentPage() const override;
  bool ToggleConnection() override;
  bool EnsureConnected() override;
  void RefreshProfileList() override;
  TProfileStore& Profiles() override { return *profileStore_; }
  bool RegisterBusy() const override { return busy_ > 0; }
  bool RunRegisterAction(int page, std::chrono::milliseconds wait,
                         const std::function<void()>& body) override;
  void RunTransfer(const std::function<void()>& body) override;
  QProgressBar* ProgressBar() override { return progressBar_; }
  QWidget* PanelMenu() override;
  QWidget* Window() override { return this; }

  TMainSignals& Signals() override { return signals_; }
  TSidePanel& Side() { return *side_; }
  TConfigPage& ConfigPage() { return *configPage_; }
  TGoodsPage& GoodsPage() { return *goodsPage_; }
  TJournalPage& JournalPage() { return *journalPage_; }
  TConfigSysPage& ConfigSysPage() { return *configSysPage_; }
  TShopPage& ShopPage() { return *shopPage_; }
  TWaitForm& WaitForm() { return *waitForm_; }
  QtUiHooks& Hooks() { return *hooks_; }
  ConsoleWidget& Console() { return *console_; }
  TActionList& Actions() { return *actions_; }
  TLineMonitor& LineMonitor() { return *lineMonitor_; }

  // Identification steps (model, serial number, version, mode, date, time,
  // options) with their messages; false after a reported failure.
  bool IdentifyRegister();
  // Reads the option table into the register's rows of the options table.
  bool FetchOptions() override;

  // "Найти ККМ" (aFindKKM): searches every listed port at every speed of the
  // speed list for the register; the first one found selects its port and
  // speed in the side panel. Pressed while it runs, it stops the search.
  void FindRegisterAction();
  bool Searching() const { return searching_; }

  // Stops the running transfer or search (as the second press of its button).
  void StopTransfer();
  // Puts the keyboard focus on the first control of the page in front.
  void FocusPage();

  // "Руководство" (F1): the help window at the chapter of the page and tab on
  // display; "О программе": version, licence, the user's files
  // (MainWindowHelp.cpp).
  void ShowManual();
  void ShowAbout();
  // The help window once it was opened, else null.
  THelpWindow* HelpWindow() const { return helpWindow_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildFrame();
  void OpenWindow(const std::vector<std::string>& args);
  // An installed program started where ZarvikConfig.ini or "bd" of a
  // portable run lie: offers to move them to the user's folders (never over
  // files already there) or says that they are not used.
  void OfferWorkingFolderFiles();
  // Lists the ports in both port boxes (the selections are left to the
  // caller); the ports listed.
  std::vector<TPortEntry> FillPortList();
  // The search may start only while disconnected and no exchange runs; while
  // it runs, it may be stopped.
  void UpdateFindAction();
  void SelectPortItem(QComboBox* box, int port);
  void SelectSpeedItem(QComboBox* box, std::uint32_t speed);
  void WireSidePanel();
  // The window's keys: pages, connection, search, stop, Alt to the menu.
  void BuildShortcuts();
  void Disconnect();
  bool Connect();
  void AdaptToRegister();
  void SaveConfiguration();
  // The available area of the window's screen.
  QRect AvailableArea() const;
  // Size and place from ZarvikConfig.ini [Window], inside the screen's
  // available area (centred when nothing fitting is remembered).
  void PlaceWindow(const TIniFile& file);
  void SavePlacement(TIniFile& file) const;
  void PageChanged(int index);
  // Runs a close the user asked for while an exchange ran, once it ended.
  void ClosePendingWindow();
  // The help actions and F1; the switch word "help" opens the manual at start.
  void BuildHelp(const std::vector<std::string>& args);

  TComPort registerPort_;
  TBarCodeScaner scannerPort_;
  TKKM kkm_;
  TProtocolKKM protocol_;
  std::unique_ptr<TBD> bd_;
  std::unique_ptr<TProfileStore> profileStore_;  // after bd_: its events live on bd_'s list
  std::unique_ptr<QtUiHooks> hooks_;
  std::unique_ptr<TWaitForm> waitForm_;
  TMainSignals signals_;
  TLoadedFlags flags_;
  TTransferState transfer_;
  TWriteSafety writeSafety_;
  bool configStop_ = false;
  int busy_ = 0;
  bool closePending_ = false;
  bool searching_ = false;
  bool searchStopRequested_ = false;
  int shownPageIndex_ = -1;
  bool altAlone_ = false;  // Alt is down and no other key came with it

  TActionList* actions_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  ConsoleWidget* console_ = nullptr;
  TSidePanel* side_ = nullptr;
  QTabWidget* pages_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  TConfigPage* configPage_ = nullptr;
  TGoodsPage* goodsPage_ = nullptr;
  TJournalPage* journalPage_ = nullptr;
  TConfigSysPage* configSysPage_ = nullptr;
  TShopPage* shopPage_ = nullptr;
  TLineMonitor* lineMonitor_ = nullptr;
  THelpWindow* helpWindow_ = nullptr;
};

}  // namespace zarvik::ui
