#include "CtlSession.h"

#include "CtlOutput.h"
#include "port/PortTable.h"

namespace zarvik::ctl {

int TCtlSession::CmdPorts() {
  CtlTable table{{"Порт", "Устройство", "by-id", "Состояние"}, {}};
  for (const TPortEntry& e : PortTable(args_.all))
    table.rows.push_back({"COM" + std::to_string(e.number), e.node, e.byId, PortStateText(e)});
  PrintTable(out_, table, args_.csv);
  return ceOk;
}

}  // namespace zarvik::ctl
