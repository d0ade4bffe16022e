// What the pages of the main window may use: the register (through the
// protocol's commands), the data module, the shared actions, the page
// selection, the connection step and the state every workflow shares. The
// main window implements it; a page never talks to the port itself.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "store/RegisterBackup.h"

class QAction;
class QProgressBar;
class QWidget;

namespace zarvik {
class TBD;
class TBarCodeScaner;
class TComPort;
class TKKM;
class TKKMInfo;
class TProfileStore;
class TProtocolKKM;
}  // namespace zarvik

namespace zarvik::ui {

class TMainSignals;

inline constexpr std::string_view kCannotConnectText = "Не удалось подключиться!";

// Page numbers of `MainPageControl`.
enum TPage : int { pgConfig = 1, pgGoods = 2, pgMagazine = 3, pgConfigSys = 4, pgShop = 5 };
inline constexpr int kLastPage = pgShop;

// What has been read from the register since the program started (cleared
// again when the loaded settings are saved as a profile).
struct TLoadedFlags {
  bool optionsLoaded = false;
  bool departmentsLoaded = false;
  bool receiptTextLoaded = false;
  bool taxesLoaded = false;
  bool storedProfilesFound = false;
  bool AllLoaded() const { return optionsLoaded && departmentsLoaded && receiptTextLoaded && taxesLoaded; }
};

// The long transfers (goods, journal). transferProgress is zero while none
// runs; a second press of the running action's button sets
// transferStopRequested, which the transfer tests between records.
struct TTransferState {
  int transferProgress = 0;
  bool transferStopRequested = false;
  std::int64_t goodsLastCode = 0;
};

// "Записать все настройки в ККМ" reads (and backs up) the register's values
// of all its tables once, in the frame of its first step that connects; the
// later steps use that snapshot.
struct TWriteBatch {
  unsigned tables = 0;  // TSnapshotTable bits
  bool read = false;    // the snapshot holds the register's values
  bool failed = false;  // reading or the backup failed: no step writes
  TRegisterSnapshot snapshot;
  std::string backupKey;  // the backup profile made, "" when none
  std::string shownKey;   // the profile on display when it was made
};

// What protects the register's settings and goods from a wrong write: the
// backup before each write (page 4, ZarvikConfig.ini [Backup]) and the box
// "только отличия" of the configuration page.
struct TWriteSafety {
  TBackupSettings backup;
  bool onlyDifferences = false;
  std::optional<TWriteBatch> batch;  // while write-all runs
};

class TPageHost {
 public:
  virtual ~TPageHost() = default;

  virtual TKKM& Kkm() = 0;
  virtual TProtocolKKM& Protocol() = 0;
  virtual TComPort& RegisterPort() = 0;
  // The barcode scanner's port (not the register's).
  virtual TBarCodeScaner& ScannerPort() = 0;
  virtual TBD& Bd() = 0;
  virtual TLoadedFlags& Flags() = 0;
  virtual TTransferState& Transfer() = 0;
  virtual TWriteSafety& WriteSafety() = 0;
  // The register information, or nullptr before the first identification.
  virtual TKKMInfo* Info() = 0;

  // The action of that objectName (created by the main window with its
  // caption; nullptr for an unknown name).
  virtual QAction* Action(std::string_view name) = 0;
  // Enables or disables an action, except that an action switched off for
  // the run (CONFIG_STOP) stays disabled.
  virtual void SetActionEnabled(std::string_view name, bool enabled) = 0;
  virtual bool ConfigStop() const = 0;

  virtual void SelectPage(int page) = 0;
  virtual int CurrentPage() const = 0;
  // Disconnects when connected (false), else connects (true when connected).
  virtual bool ToggleConnection() = 0;
  // The step every register action starts with: connects when the register
  // port is closed; when that fails, reports "Не удалось подключиться!" and
  // returns false.
  virtual bool EnsureConnected() = 0;
  // Rebuilds the profile list for the connected register.
  virtual void RefreshProfileList() = 0;
  // Reads the option table of the connected register into the register's
  // rows of the options table; false after a reported failure.
  virtual bool FetchOptions() = 0;
  // The notifications pages follow (connection, adaptation, language, page).
  virtual TMainSignals& Signals() = 0;
  // The profile database; its list events live on Bd().mtProfile, so any
  // move of the list shows (and when needed loads) that profile's rows.
  virtual TProfileStore& Profiles() = 0;

  // A register exchange is running: no other register action may start
  // (the exchange is not re-entrant and lets the window process events).
  virtual bool RegisterBusy() const = 0;

  // The frame of a short register action: its page to the front, the main
  // window disabled, the wait window with `wait`, the connection step; then
  // `body`. The window is enabled again on every way out. Returns false
  // (without running the body) when the action cannot start: another
  // exchange runs or the register cannot be connected.
  virtual bool RunRegisterAction(int page, std::chrono::milliseconds wait,
                                 const std::function<void()>& body) = 0;
  // The frame of a long transfer that keeps the window working (goods,
  // journal): marks the register busy for the duration of `body`.
  virtual void RunTransfer(const std::function<void()>& body) = 0;

  // The main window's progress bar, shown during transfers.
  virtual QProgressBar* ProgressBar() = 0;
  // The side panel with the page selectors and connection controls.
  virtual QWidget* PanelMenu() = 0;
  virtual QWidget* Window() = 0;
};

// Runs `cleanup` when it goes out of scope, also when an exception passes.
class TScopeExit {
 public:
  explicit TScopeExit(std::function<void()> cleanup) : cleanup_(std::move(cleanup)) {}
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;
  ~TScopeExit() {
    if (cleanup_) cleanup_();
  }

 private:
  std::function<void()> cleanup_;
};

}  // namespace zarvik::ui
