#pragma once
// The order downloads in the window: the "Download Orders" button and the
// menu entry "Download x Days of Orders".

#include "platform/features.h"
#include "platform/shell.h"
#include "store/session.h"

namespace tw::orders {

// Registers the clicks of cmdDownloadOrders and mnuDownloadDaysofOrders.
// `session` and `shell` must outlive `table`.
void registerFeature(Session &session, Shell &shell, FeatureTable &table);

} // namespace tw::orders
