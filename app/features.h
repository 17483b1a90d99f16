#pragma once
// Composes the program: every feature folder registers what it answers in
// the one FeatureTable the window and the page layer dispatch through.

#include "platform/features.h"
#include "platform/shell.h"
#include "store/session.h"

namespace tw::app {

// `session` and `shell` must outlive `table`.
void composeFeatures(Session &session, Shell &shell, FeatureTable &table);

} // namespace tw::app
