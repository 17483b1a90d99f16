#pragma once
// What the page layer itself plugs into the window: the menu entries and the
// "Display Orders" label that only open a page, the sign-in to eBay, and the
// transactions view with its tags, notes and archive.

#include "platform/features.h"
#include "platform/shell.h"
#include "store/session.h"
#include "ui/options.h" // registerOptions

namespace tw::ui {

// `session` and `shell` must outlive `table`.
void registerFeature(Session &session, Shell &shell, FeatureTable &table);

} // namespace tw::ui
