#pragma once
// Postage printing in the window.

#include "platform/features.h"
#include "platform/shell.h"
#include "store/session.h"

namespace tw::postage {

// `session` and `shell` must outlive `table`.
void registerFeature(Session &session, Shell &shell, FeatureTable &table);

} // namespace tw::postage
