#include "CtlSession.h"

#include "CtlOutput.h"
#include "port/PortTable.h"
#include "shell/DiaLog.h"

namespace zarvik::ctl {

int TCtlSession::CmdPorts() {
  CtlTable table{{"Порт", "Устройство", "by-id", "Состояние"}, {}};
  const std::vector<TPortEntry> ports = PortTable(args_.all);
  for (const TPortEntry& e : ports)
    table.rows.push_back({"COM" + std::to_string(e.number), e.node, e.byId, PortStateText(e)});
  PrintTable(out_, table, args_.csv);
  const std::string denied = AllPortsDeniedText(ports);
  if (!denied.empty()) Warning(denied, false, true, true);
  return ceOk;
}

}  // namespace zarvik::ctl
