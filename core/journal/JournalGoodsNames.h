// The goods names of a goods table, for the journal's goods breakdown.
#pragma once

#include "journal/JournalSummary.h"

namespace zarvik {

class TWorkTable;

// Code → name of every stored row of a goods table (the goods page's table or
// one read from a goods file) that has a code and a name; the cursor does not
// move. When codes repeat (rows of several profiles), the first row wins.
TGoodsNames GoodsNamesOf(const TWorkTable& goods);

}  // namespace zarvik
