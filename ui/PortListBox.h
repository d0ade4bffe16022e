// The port lists of the window (the register's in the side panel, the
// scanner's on page 4). An entry reads "COMn", or "COMn" + two blanks + a
// mark (BUSY, NO ACCESS, NOT SERIAL), so that its characters 4 to 6 still
// give the port number; the open list shows beside it the device, its
// /dev/serial/by-id name and the state in words, and each entry carries the
// same as its tooltip and accessible description.
#pragma once

#include <vector>

#include "port/PortTable.h"

class QComboBox;

namespace zarvik::ui {

// Columns of the open list.
enum TPortColumn : int { pcName = 0, pcDevice = 1, pcById = 2, pcState = 3, pcColumnCount = 4 };

// Fills `box` with the ports (its selection is left to the caller); the
// first fill gives the box its table of columns.
void FillPortBox(QComboBox* box, const std::vector<TPortEntry>& ports);
// The entry at `index` is now held by this program (after a connect through
// a port listed as busy): its state says so.
void MarkPortInUse(QComboBox* box, int index);
// The box's tooltip and accessible description become those of its current
// entry (done on every change of the entry; call it after a change made with
// the box's signals blocked).
void DescribeCurrentPort(QComboBox* box);
// The port number of the entry at `index`, 0 when there is none.
int PortBoxNumber(const QComboBox* box, int index);

}  // namespace zarvik::ui
