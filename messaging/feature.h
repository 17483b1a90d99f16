#pragma once
// Messages to buyers in the window: the program's contact page, eBay's
// contact page and its confirmation, and the compose pages' Cancel links.

#include "platform/features.h"
#include "platform/shell.h"
#include "store/session.h"

namespace tw::messaging {

// `session` and `shell` must outlive `table`.
void registerFeature(Session &session, Shell &shell, FeatureTable &table);

} // namespace tw::messaging
